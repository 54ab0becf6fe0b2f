// A worker used only by the tests: the shared frame around a Run that the
// test scripts through the programmer name of an identify block, commands
// separated by ';':
//   text:T  text0:T (message class 0)  progress:D,T  status:C,V  raw:HEX  sleep:MS  waitcancel:MS
//   echo  crash  exit:N  return:success:V  return:cancelled  return:failure
#include <cstdio>
#include <cstdlib>
#include <string>
#include <string_view>
#include <vector>

#include "ombra/common/pipe_io.h"
#include "ombra/platform/clock.h"
#include "ombra/platform/handle.h"
#include "ombra/workers/worker_proc.h"

namespace ombra::workers {

class TestWorker final : public WorkerProc {
public:
    static const WorkerTraits kTraits;

    TestWorker(HANDLE input, HANDLE output) : WorkerProc(input, output) {}
    const char* GetName() const override { return "TestWorker"; }
    BOOL ReadProcParams() override {
        TraceText("TestWorker::ReadProcParams()");
        return readBlock(pipe::Operation::identify, pipe::BlockForm::current, {});
    }
    RunResult Run() override;

private:
    bool step(std::string_view command, RunResult& result);
};

const WorkerTraits TestWorker::kTraits = {"TestWorker", "TestWorker", "failed to register TestWorker\n",
                                          "Calling proc.Run()\n", true, true};

namespace {

DWORD number(std::string_view text) { return static_cast<DWORD>(std::strtoul(std::string(text).c_str(), nullptr, 0)); }

std::pair<DWORD, DWORD> pairOf(std::string_view text) {
    const auto comma = text.find(',');
    return {number(text.substr(0, comma)), comma == std::string_view::npos ? 0 : number(text.substr(comma + 1))};
}

}  // namespace

// False when the script ends here with `result`.
bool TestWorker::step(std::string_view c, RunResult& result) {
    auto arg = [&](std::string_view prefix) { return c.substr(prefix.size()); };
    if (c.starts_with("text:")) {
        SendText(std::string(arg("text:")).c_str(), 3);
    } else if (c.starts_with("text0:")) {
        SendText(std::string(arg("text0:")).c_str(), 0);
    } else if (c.starts_with("progress:")) {
        const auto [d, t] = pairOf(arg("progress:"));
        pipe::ProgressRecord(d, t).Write(m_hOutputPipe);
    } else if (c.starts_with("status:")) {
        const auto [code, value] = pairOf(arg("status:"));
        SendStatus(code, value);
    } else if (c.starts_with("raw:")) {
        std::vector<std::uint8_t> bytes;
        const auto hex = arg("raw:");
        for (std::size_t i = 0; i + 1 < hex.size(); i += 2)
            bytes.push_back(static_cast<std::uint8_t>(std::strtoul(std::string(hex.substr(i, 2)).c_str(), nullptr, 16)));
        HandleSink(m_hOutputPipe).write(bytes);
    } else if (c.starts_with("sleep:")) {
        Sleep(number(arg("sleep:")));
    } else if (c.starts_with("waitcancel:")) {
        if (m_hCancelEvent != nullptr && WaitForSingleObject(m_hCancelEvent, number(arg("waitcancel:"))) == WAIT_OBJECT_0) {
            result = CANCELLED;
            return false;
        }
    } else if (c == "echo") {
        char text[512];
        std::snprintf(text, sizeof text, "port=%s baud=%u table=%zu device=%u cancel=%s",
                      m_params.commDeviceName.c_str(), static_cast<unsigned>(m_params.dcb.BaudRate),
                      m_params.cbusTable.size(), static_cast<unsigned>(m_params.deviceNumber),
                      m_hCancelEvent != nullptr ? (cancelSignalled() ? "set" : "clear") : "none");
        SendText(text, 3);
    } else if (c == "crash") {
        std::abort();
    } else if (c.starts_with("exit:")) {
        std::_Exit(static_cast<int>(number(arg("exit:"))));
    } else if (c.starts_with("return:success:")) {
        m_successValue = number(arg("return:success:"));
        result = SUCCESS;
        return false;
    } else if (c == "return:cancelled") {
        result = CANCELLED;
        return false;
    } else if (c == "return:failure") {
        result = FAILURE;
        return false;
    }
    return true;
}

RunResult TestWorker::Run() {
    std::string_view script = m_params.programmerName;
    RunResult result = FAILURE;
    while (!script.empty()) {
        const auto end = script.find(';');
        if (!step(script.substr(0, end), result)) break;
        script = end == std::string_view::npos ? std::string_view{} : script.substr(end + 1);
    }
    return result;
}

}  // namespace ombra::workers

int main(int argc, char** argv) { return ombra::workers::runWorkerProgram<ombra::workers::TestWorker>(argc, argv); }
