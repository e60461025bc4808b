// What programs ask of the system: the control codes they send to a touch control device and the
// registry values they write, as transcript lines; and what a script expects of them and of the
// registry and the cursor they leave.
#include <algorithm>
#include <cstdio>

#include <tapkernel/Kernel.h>
#include <tapkernel/Text.h>

#include "Session.h"
#include "TapShared.h"
#include "tap/ui/host/Session.h"

namespace tapbench {
namespace {

using Outcome = std::optional<std::string>;
using tapmachine::ProgramRequest;

// The touch drivers' control devices, by kernel name: requests to other devices (a COM port the
// installer tests) are not shown.
const char16_t *const kTouchControlDevices[] = {
    u"\\??\\MonotapSymLnk1",
    u"\\??\\PolytapSymLnk1",
    u"\\??\\MonousbSymLnk1",
    u"\\??\\PolyusbSymLnk1",
};

struct ControlCodeName {
    uint32_t code;
    const char *name;
};

const ControlCodeName kControlCodes[] = {
    {IOCTL_TOUCH_CLOSE_PORT, "IOCTL_TOUCH_CLOSE_PORT"},
    {IOCTL_TOUCH_OPEN_PORT, "IOCTL_TOUCH_OPEN_PORT"},
    {IOCTL_TOUCH_SET_CALIBRATION, "IOCTL_TOUCH_SET_CALIBRATION"},
    {IOCTL_TOUCH_GET_RAW_SAMPLE, "IOCTL_TOUCH_GET_RAW_SAMPLE"},
    {IOCTL_TOUCH_SET_SETTINGS, "IOCTL_TOUCH_SET_SETTINGS"},
    {IOCTL_TOUCH_BEEP, "IOCTL_TOUCH_BEEP"},
    {IOCTL_TOUCH_SET_RIGHT_CLICK, "IOCTL_TOUCH_SET_RIGHT_CLICK"},
    {IOCTL_TOUCH_GET_RIGHT_CLICK, "IOCTL_TOUCH_GET_RIGHT_CLICK"},
    {IOCTL_TOUCH_START_DATA_MODE, "IOCTL_TOUCH_START_DATA_MODE"},
    {IOCTL_TOUCH_GET_CONTACT_FRAME, "IOCTL_TOUCH_GET_CONTACT_FRAME"},
    {IOCTL_TOUCH_STOP_DATA_MODE, "IOCTL_TOUCH_STOP_DATA_MODE"},
    {IOCTL_TOUCH_SET_BAUD_RATE, "IOCTL_TOUCH_SET_BAUD_RATE"},
    {IOCTL_TOUCH_PROBE, "IOCTL_TOUCH_PROBE"},
};

bool IsTouchControlDevice(const std::u16string &kernelName)
{
    return std::any_of(std::begin(kTouchControlDevices), std::end(kTouchControlDevices),
                       [&](const char16_t *name) { return tapkernel::EqualsNoCase(kernelName, name); });
}

// The name include/TapShared.h gives a control code, or the code in hex.
std::string CodeName(uint32_t code)
{
    for (const ControlCodeName &known : kControlCodes) {
        if (known.code == code) {
            return known.name;
        }
    }
    char text[16];
    std::snprintf(text, sizeof text, "0x%08X", static_cast<unsigned>(code));
    return text;
}

std::string HexText(const std::vector<uint8_t> &bytes)
{
    std::string text;
    char pair[3];
    for (uint8_t byte : bytes) {
        std::snprintf(pair, sizeof pair, "%02x", byte);
        text += pair;
    }
    return text;
}

// A word as a script writes it: quoted when it has blanks or quotes, or is empty.
std::string ScriptWord(const std::string &word)
{
    return word.empty() || word.find_first_of(" \t\"") != std::string::npos ? QuotedText(word) : word;
}

// The characters of REG_SZ data, without one terminating NUL.
std::string StringData(const std::vector<uint8_t> &data)
{
    std::u16string text;
    for (size_t i = 0; i + 1 < data.size(); i += 2) {
        text += static_cast<char16_t>(data[i] | (data[i + 1] << 8));
    }
    if (!text.empty() && text.back() == u'\0') {
        text.pop_back();
    }
    return tapkernel::ToUtf8(text);
}

// A value in the notation of `registry set` and `expect registry`: dword DECIMAL, binary HEX,
// sz "TEXT"; any other type (or a REG_DWORD that is not 4 bytes) as type=N HEX.
std::string ValueText(uint32_t type, const std::vector<uint8_t> &data)
{
    if (type == REG_DWORD && data.size() == 4) {
        uint32_t value = data[0] | (data[1] << 8) | (data[2] << 16) | (static_cast<uint32_t>(data[3]) << 24);
        return "dword " + std::to_string(value);
    }
    if (type == REG_BINARY) {
        return "binary " + HexText(data);
    }
    if (type == REG_SZ) {
        return "sz " + QuotedText(StringData(data));
    }
    return "type=" + std::to_string(type) + " " + HexText(data);
}

std::string RequestLine(const ProgramRequest &request)
{
    switch (request.kind) {
    case ProgramRequest::Kind::DeviceControl:
        return "ioctl " + request.program + " " + request.target + " " + CodeName(request.code) +
               (request.input.empty() ? "" : " in=" + HexText(request.input)) +
               (request.error ? " -> error " + std::to_string(request.error) : " -> ok");
    case ProgramRequest::Kind::SetValue:
        return "registry " + request.program + " set " + ScriptWord(request.target) + " " +
               ScriptWord(request.valueName) + " " + ValueText(request.type, request.data);
    case ProgramRequest::Kind::DeleteValue:
        return "registry " + request.program + " delete " + ScriptWord(request.target) + " " +
               ScriptWord(request.valueName);
    case ProgramRequest::Kind::DeleteKey:
        return "registry " + request.program + " delete " + ScriptWord(request.target);
    }
    return {};
}

void RequestLines(ScenarioSession &session, std::vector<TranscriptEvent> &events)
{
    for (const ProgramRequest &request : session.machine().programRequests().Take()) {
        if (request.kind == ProgramRequest::Kind::DeviceControl) {
            if (!IsTouchControlDevice(request.kernelName)) {
                continue;
            }
            session.pendingIoctls().push_back({CodeName(request.code), HexText(request.input), RequestLine(request)});
        }
        events.push_back({Moment(request.time), kProgramRequest, RequestLine(request)});
    }
}

// expect ioctl NAME [in=HEX]: found among the requests since the last one matched, in order.
Outcome IoctlSeen(ScenarioSession &session, const ScenarioLine &line)
{
    const Words &w = line.words;
    ExpectWords(w, 3, 4, "expect ioctl NAME [in=HEX]");
    std::optional<std::string> input;
    if (w.size() == 4) {
        if (Lower(w[3]).rfind("in=", 0) != 0) {
            throw ScenarioError("usage: expect ioctl NAME [in=HEX]");
        }
        try {
            input = HexText(HexBytes(w[3].substr(3)));
        } catch (const std::invalid_argument &error) {
            throw ScenarioError(error.what());
        }
    }
    std::deque<PendingIoctl> &pending = session.pendingIoctls();
    auto match = std::find_if(pending.begin(), pending.end(), [&](const PendingIoctl &ioctl) {
        return SameWord(ioctl.name, w[2]) && (!input || *input == ioctl.input);
    });
    if (match != pending.end()) {
        pending.erase(pending.begin(), match + 1);
        return std::nullopt;
    }
    if (pending.empty()) {
        return std::string("no request since the last one matched");
    }
    std::string seen = "saw";
    for (const PendingIoctl &ioctl : pending) {
        seen += "\n    " + ioctl.line;
    }
    return seen;
}

// expect no-ioctl: none since the last one matched; from here on every request so far counts as
// passed.
Outcome NoIoctl(ScenarioSession &session, const ScenarioLine &line)
{
    ExpectWords(line.words, 2, 2, "expect no-ioctl");
    std::deque<PendingIoctl> &pending = session.pendingIoctls();
    Outcome failure;
    if (!pending.empty()) {
        failure = "saw " + pending.front().line + (pending.size() > 1 ? " and more" : "");
    }
    pending.clear();
    return failure;
}

// The data VALUE stands for in the notation TYPE; ScenarioError for a value that does not parse.
std::pair<uint32_t, std::vector<uint8_t>> ExpectedValue(const std::string &type, const std::string &value)
{
    const std::string kind = Lower(type);
    if (kind == "dword") {
        uint32_t number = static_cast<uint32_t>(Number(value, "dword"));
        return {REG_DWORD, {static_cast<uint8_t>(number), static_cast<uint8_t>(number >> 8),
                            static_cast<uint8_t>(number >> 16), static_cast<uint8_t>(number >> 24)}};
    }
    if (kind == "binary") {
        try {
            return {REG_BINARY, HexBytes(value)};
        } catch (const std::invalid_argument &error) {
            throw ScenarioError(error.what());
        }
    }
    if (kind == "sz") {
        std::vector<uint8_t> data;
        for (char16_t c : tapkernel::ToUtf16(value)) {
            data.push_back(static_cast<uint8_t>(c & 0xFF));
            data.push_back(static_cast<uint8_t>(c >> 8));
        }
        return {REG_SZ, data};
    }
    throw ScenarioError("a value is dword, binary or sz, not '" + type + "'");
}

// expect registry ROOT\KEY NAME dword|binary|sz VALUE: the value has this type and exactly these
// bytes (a string with or without its terminating NUL).
Outcome RegistryValue(ScenarioSession &session, const ScenarioLine &line)
{
    const Words &w = line.words;
    ExpectWords(w, 6, 6, "expect registry ROOT\\KEY NAME dword|binary|sz VALUE");
    const auto [type, data] = ExpectedValue(w[4], w[5]);
    std::optional<tapmachine::RegistryValueRecord> value =
        session.machine().Value(tapkernel::ToUtf16(w[2]), tapkernel::ToUtf16(w[3]));
    if (!value) {
        return std::string(session.machine().KeyExists(tapkernel::ToUtf16(w[2])) ? "no such value" : "no such key");
    }
    std::vector<uint8_t> stored = value->data;
    if (type == REG_SZ && value->type == REG_SZ && stored.size() == data.size() + 2 && stored[data.size()] == 0 &&
        stored[data.size() + 1] == 0) {
        stored.resize(data.size());
    }
    if (value->type == type && stored == data) {
        return std::nullopt;
    }
    return "the value is " + ValueText(value->type, value->data);
}

// expect no-value ROOT\KEY NAME
Outcome NoValue(ScenarioSession &session, const ScenarioLine &line)
{
    const Words &w = line.words;
    ExpectWords(w, 4, 4, "expect no-value ROOT\\KEY NAME");
    std::optional<tapmachine::RegistryValueRecord> value =
        session.machine().Value(tapkernel::ToUtf16(w[2]), tapkernel::ToUtf16(w[3]));
    if (value) {
        return "the value is " + ValueText(value->type, value->data);
    }
    return std::nullopt;
}

// expect no-key ROOT\KEY
Outcome NoKey(ScenarioSession &session, const ScenarioLine &line)
{
    ExpectWords(line.words, 3, 3, "expect no-key ROOT\\KEY");
    if (session.machine().KeyExists(tapkernel::ToUtf16(line.words[2]))) {
        return std::string("the key exists");
    }
    return std::nullopt;
}

// expect cursor-shown yes|no: the show-cursor count of the programs' window system is 0 or more.
Outcome CursorShown(ScenarioSession &session, const ScenarioLine &line)
{
    const Words &w = line.words;
    ExpectWords(w, 3, 3, "expect cursor-shown yes|no");
    const std::string want = Lower(w[2]);
    if (want != "yes" && want != "no") {
        throw ScenarioError("usage: expect cursor-shown yes|no");
    }
    const int count = session.machine().windowSystem().CursorCount();
    if ((count >= 0) == (want == "yes")) {
        return std::nullopt;
    }
    return std::string(count >= 0 ? "the cursor is shown" : "the cursor is hidden") + " (show count " +
           std::to_string(count) + ")";
}

} // namespace

void AddRequestTranscript(CommandTable &table)
{
    table.transcript.push_back(RequestLines);
    table.expectations.push_back({"ioctl", IoctlSeen});
    table.expectations.push_back({"no-ioctl", NoIoctl});
    table.expectations.push_back({"registry", RegistryValue});
    table.expectations.push_back({"no-value", NoValue});
    table.expectations.push_back({"no-key", NoKey});
    table.expectations.push_back({"cursor-shown", CursorShown});
}

} // namespace tapbench
