#include "ombra/common/pipe_protocol.h"

#include <new>

namespace ombra::pipe {

namespace {

bool hasDeviceNumber(Operation op) { return op != Operation::identify; }
bool hasPath(Operation op) { return op != Operation::identify; }
bool hasStart(Operation op) { return op != Operation::identify; }

bool readText(ByteSource& src, std::string& out) {
    std::uint32_t length = 0;
    if (!le::read32(src, length)) return false;
    if (length > kMaxFieldLength) return false;
    std::string text;
    try {
        text.resize(length);
    } catch (const std::bad_alloc&) {
        return false;
    }
    if (length != 0 && !src.read({reinterpret_cast<std::uint8_t*>(text.data()), length})) return false;
    out = std::move(text);
    return true;
}

bool write32(ByteSink& sink, std::uint32_t v) {
    std::uint8_t b[4];
    le::put32(b, v);
    return sink.write(b);
}

}  // namespace

std::optional<std::vector<std::uint8_t>> encode(const ParameterBlock& b, BlockForm form) {
    if (b.cbusTable.size() > kMaxCBusTable) return std::nullopt;
    std::vector<std::uint8_t> out;
    const auto guid = toBytes(b.programmerClsid);
    out.insert(out.end(), guid.begin(), guid.end());
    if (hasDeviceNumber(b.operation)) le::append32(out, b.deviceNumber);
    le::appendText(out, b.commDeviceName);
    const auto dcb = toBytes(b.dcb);
    out.insert(out.end(), dcb.begin(), dcb.end());
    const auto to = toBytes(b.timeouts);
    out.insert(out.end(), to.begin(), to.end());
    le::append16(out, static_cast<std::uint16_t>(b.cbusTable.size()));
    out.insert(out.end(), b.cbusTable.begin(), b.cbusTable.end());
    le::append32(out, b.baudRate);
    if (hasPath(b.operation)) le::appendText(out, b.path);
    if (hasStart(b.operation)) le::append32(out, b.start);
    if (b.operation == Operation::burn) le::append32(out, b.verifyFlag);
    if (b.operation == Operation::dump) le::append32(out, b.dumpLength);
    le::append32(out, b.cancelEvent);
    if (form == BlockForm::current) le::appendText(out, b.programmerName);
    return out;
}

bool readParameterBlock(ByteSource& src, Operation op, BlockForm form, ParameterBlock& out,
                        const FieldObserver& onField) {
    ParameterBlock b;
    b.operation = op;
    auto seen = [&](BlockField f) {
        if (onField) onField(f, b);
    };

    std::array<std::uint8_t, kGuidSize> guid{};
    if (!src.read(guid)) return false;
    b.programmerClsid = guidFromBytes(guid);
    seen(BlockField::programmerClsid);

    if (hasDeviceNumber(op)) {
        if (!le::read32(src, b.deviceNumber)) return false;
        seen(BlockField::deviceNumber);
    }
    if (!readText(src, b.commDeviceName)) return false;
    seen(BlockField::commDeviceName);

    std::array<std::uint8_t, DCB::kSize> dcb{};
    if (!src.read(dcb)) return false;
    b.dcb = dcbFromBytes(dcb);
    seen(BlockField::dcb);

    std::array<std::uint8_t, COMMTIMEOUTS::kSize> to{};
    if (!src.read(to)) return false;
    b.timeouts = timeoutsFromBytes(to);
    seen(BlockField::timeouts);

    std::uint16_t tableSize = 0;
    if (!le::read16(src, tableSize)) return false;
    try {
        b.cbusTable.resize(tableSize);
    } catch (const std::bad_alloc&) {
        return false;
    }
    seen(BlockField::cbusTableSize);  // the table has its size, not its bytes yet
    if (tableSize != 0 && !src.read(b.cbusTable)) return false;
    seen(BlockField::cbusTable);

    if (!le::read32(src, b.baudRate)) return false;
    seen(BlockField::baudRate);

    if (hasPath(op)) {
        if (!readText(src, b.path)) return false;
        seen(BlockField::path);
    }
    if (hasStart(op)) {
        if (!le::read32(src, b.start)) return false;
        seen(BlockField::start);
    }
    if (op == Operation::burn) {
        if (!le::read32(src, b.verifyFlag)) return false;
        seen(BlockField::verifyFlag);
    }
    if (op == Operation::dump) {
        if (!le::read32(src, b.dumpLength)) return false;
        seen(BlockField::dumpLength);
    }
    if (!le::read32(src, b.cancelEvent)) return false;
    seen(BlockField::cancelEvent);

    if (form == BlockForm::current) {
        if (!readText(src, b.programmerName)) return false;
        seen(BlockField::programmerName);
    }
    out = std::move(b);
    return true;
}

TextRecord::TextRecord(std::string_view text, DWORD messageClass) : class_(messageClass) {
    const auto zero = text.find('\0');
    if (zero != std::string_view::npos) text = text.substr(0, zero);
    length_ = text.size() < kMaxRecordText ? text.size() : kMaxRecordText;
    text.copy(text_.data(), length_);
    text_[length_] = '\0';
}

bool TextRecord::WriteTo(ByteSink& pipe) const {
    if (!write32(pipe, E_RECORD_TEXT)) return false;
    if (!write32(pipe, static_cast<std::uint32_t>(length_))) return false;
    if (length_ != 0 && !pipe.write({reinterpret_cast<const std::uint8_t*>(text_.data()), length_})) return false;
    return write32(pipe, class_);
}

bool StatusRecord::WriteTo(ByteSink& pipe) const {
    return write32(pipe, E_RECORD_STATUS) && write32(pipe, code_) && write32(pipe, value_);
}

bool ProgressRecord::WriteTo(ByteSink& pipe) const {
    return write32(pipe, E_RECORD_PROGRESS) && write32(pipe, done_) && write32(pipe, total_);
}

ReadResult readRecord(ByteSource& src, Record& out) {
    std::uint32_t type = 0;
    if (!le::read32(src, type)) return ReadResult::failed;
    switch (type) {
    case E_RECORD_TEXT: {
        std::uint32_t length = 0;
        if (!le::read32(src, length)) return ReadResult::failed;
        // No writer sends more; a longer length is a stream out of step,
        // and waiting for bytes that never come would hang the reader.
        if (length > kMaxRecordText) return ReadResult::badLength;
        TextMessage m;
        m.text.resize(length);
        if (length != 0 && !src.read({reinterpret_cast<std::uint8_t*>(m.text.data()), length}))
            return ReadResult::failed;
        if (!le::read32(src, m.messageClass)) return ReadResult::failed;
        out = std::move(m);
        return ReadResult::ok;
    }
    case E_RECORD_STATUS: {
        StatusMessage m;
        if (!le::read32(src, m.code) || !le::read32(src, m.value)) return ReadResult::failed;
        out = m;
        return ReadResult::ok;
    }
    case E_RECORD_PROGRESS: {
        ProgressMessage m;
        if (!le::read32(src, m.done) || !le::read32(src, m.total)) return ReadResult::failed;
        out = m;
        return ReadResult::ok;
    }
    default:
        return ReadResult::badType;
    }
}

bool TerminateScanner::feed(std::uint8_t byte) {
    if (byte == expecting_) {
        if (expecting_ == 4) {
            expecting_ = 1;
            return true;
        }
        ++expecting_;
    } else {
        expecting_ = 1;
    }
    return false;
}

}  // namespace ombra::pipe
