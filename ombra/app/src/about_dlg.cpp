#include "about_dlg.h"

#include <QDialogButtonBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QPushButton>
#include <QTextEdit>
#include <QVBoxLayout>

#include <cstdio>

#include "ombra/burnix/interfaces.h"
#include "ombra/common/trace.h"
#include "ombra/platform/com.h"
#include "ombra/selkanboot/iselkanboot.h"
#include "ombra_strings.h"

namespace ombra::frontend {

namespace {

std::string versionLine(const char* name, DWORD version) {
    char line[64];
    std::snprintf(line, sizeof line, "%s version: %X.%X\n", name, unsigned(version >> 16), unsigned(version & 0xFFFF));
    return line;
}

}  // namespace

std::string installedComponentsText() {
    std::string text;
    CLSID clsid{};
    if (SUCCEEDED(platform::clsidFromProgId(kSelkanBootVersionIndependentProgId, &clsid))) {
        ISelkanBoot* boot = nullptr;
        if (SUCCEEDED(CoCreateInstance(clsid, nullptr, CLSCTX_INPROC_SERVER, IID_ISelkanBoot,
                                       reinterpret_cast<void**>(&boot))) &&
            boot != nullptr) {
            text += versionLine("SelkanBoot", boot->GetVersion());
            boot->Release();
        }
    }
    IBurnixInformation* info = nullptr;
    if (SUCCEEDED(CoCreateInstance(CLSID_Burnix, nullptr, CLSCTX_INPROC_SERVER, IID_IBurnixInformation,
                                   reinterpret_cast<void**>(&info))) &&
        info != nullptr) {
        VersionInfo* version = nullptr;
        if (SUCCEEDED(info->GetVersionInformation(&version)) && version != nullptr) {
            text += versionLine("Burnix", version->version);
            CoTaskMemFree(version->programmerName);
            CoTaskMemFree(version->description);
            CoTaskMemFree(version->notice);
            CoTaskMemFree(version);
        }
        info->Release();
    }
    return text;
}

CAboutDlg::CAboutDlg(QWidget* parent) : QDialog(parent) {
    TraceText("CAboutDlg::CAboutDlg\n");
    setObjectName("100");
    setWindowTitle("About Ombra");
    auto* icon = new QLabel(this);
    icon->setObjectName("icon128");
    icon->setPixmap(QIcon(":/ombra/ombra.png").pixmap(48, 48));
    auto* version = new QLabel(strings::kVersionLine, this);
    version->setObjectName("version");
    auto* notice = new QLabel("Copyright (C) Tarvik. All rights reserved.", this);
    notice->setObjectName("notice");
    auto* label = new QLabel("Installed components:", this);
    auto* components = new QTextEdit(this);
    components->setObjectName("1036");
    components->setReadOnly(true);
    components->setPlainText(QString::fromStdString(installedComponentsText()));
    components->setMinimumSize(320, 80);
    auto* buttons = new QDialogButtonBox(QDialogButtonBox::Ok, this);
    buttons->button(QDialogButtonBox::Ok)->setObjectName("IDOK");
    connect(buttons, &QDialogButtonBox::accepted, this, &QDialog::accept);

    auto* head = new QHBoxLayout;
    head->addWidget(icon, 0, Qt::AlignTop);
    auto* texts = new QVBoxLayout;
    texts->addWidget(version);
    texts->addWidget(notice);
    head->addLayout(texts, 1);
    auto* layout = new QVBoxLayout(this);
    layout->addLayout(head);
    layout->addWidget(label);
    layout->addWidget(components, 1);
    layout->addWidget(buttons);
}

}  // namespace ombra::frontend
