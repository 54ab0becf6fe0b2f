// CDumpDlg: where the dump starts, how long it is and the file it goes to.
#pragma once

#include <QDialog>

#include <cstdint>
#include <string>

class QLineEdit;

namespace ombra::frontend {

// An unsigned 32-bit number written in decimal, nothing else (blanks around
// it allowed); false for any other text.
bool parseDecimalDword(const QString& text, std::uint32_t& value);

class CDumpDlg final : public QDialog {
public:
    CDumpDlg(std::uint32_t start, std::uint32_t length, const std::string& file, QWidget* parent = nullptr);

    std::uint32_t start() const { return start_; }
    std::uint32_t length() const { return length_; }
    const std::string& file() const { return file_; }

    // OK: refused, and the dialog stays open, while a number is not valid.
    void accept() override;

private:
    QLineEdit* startEdit_;
    QLineEdit* lengthEdit_;
    QLineEdit* fileEdit_;
    std::uint32_t start_, length_;
    std::string file_;
};

}  // namespace ombra::frontend
