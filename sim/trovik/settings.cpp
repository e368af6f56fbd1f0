#include "sim/trovik/settings.h"

#include <algorithm>
#include <chrono>
#include <cstdlib>
#include <limits>
#include <memory>
#include <mutex>
#include <sstream>

#include "platform/ascii.h"
#include "platform/code_page.h"
#include "platform/console.h"
#include "platform/environment.h"
#include "platform/file_stamp.h"
#include "platform/program_path.h"
#include "sim/script/script_text.h"

namespace trovik_sim {
namespace {

// The made-up sample card; the shipped trovik-sim.conf holds the same values.
constexpr const char* kDefaultPorts = "1001";
constexpr const char* kDefaultSamId = "05.01-20240101-0123456789-9999999999";
constexpr std::int32_t kDefaultSexCode = 1;
constexpr std::uint32_t kDefaultIssuesNum = 1;
const std::pair<const char*, const char*> kDefaultTexts[] = {
    {"card.name", "样例人"},
    {"card.sex", "男"},
    {"card.nation", "汉"},
    {"card.nation_code", "01"},
    {"card.birthday", "19900101"},
    {"card.address", "示例省示例市样例区测试路1号"},
    {"card.id_code", "990000199001010011"},
    {"card.department", "示例市公安局样例分局"},
    {"card.start_date", "20200101"},
    {"card.end_date", "20400101"},
    {"card.chinese_name", ""},
    {"card.cert_version", "01"},
    {"card.new_app_msg", ""},
    {"card.cert_type", "身份证"},
    {"card.pass_check_id", ""},
};

constexpr long long kIntMin = std::numeric_limits<std::int32_t>::min();
constexpr long long kIntMax = std::numeric_limits<std::int32_t>::max();
constexpr long long kLongestReadDelayMs = 60000;

// What a line may have at its ends besides its text: blanks, and the CR of a CR LF line end.
constexpr std::string_view kLineBlanks = " \t\r";

// A value in double quotes keeps its leading and trailing blanks.
std::string Unquote(const std::string& value) {
    if (value.size() >= 2 && value.front() == '"' && value.back() == '"') {
        return value.substr(1, value.size() - 2);
    }
    return value;
}

std::optional<bool> ParseYesNo(const std::string& value) {
    if (value == "yes" || value == "true" || value == "on" || value == "1") {
        return true;
    }
    if (value == "no" || value == "false" || value == "off" || value == "0") {
        return false;
    }
    return std::nullopt;
}

std::optional<long long> ParseInteger(const std::string& value, long long low, long long high) {
    if (value.empty()) {
        return std::nullopt;
    }
    char* end = nullptr;
    const long long number = std::strtoll(value.c_str(), &end, 10);
    if (*end != '\0' || number < low || number > high) {
        return std::nullopt;
    }
    return number;
}

std::optional<std::vector<int>> ParsePorts(std::string value) {
    for (char& c : value) {
        if (c == ',') {
            c = ' ';
        }
    }
    std::istringstream words(value);
    std::vector<int> ports;
    for (std::string word; words >> word;) {
        const auto port = ParseInteger(word, kIntMin, kIntMax);
        if (!port) {
            return std::nullopt;
        }
        ports.push_back(static_cast<int>(*port));
    }
    return ports;
}

Settings Defaults() {
    Settings settings;
    settings.ports = *ParsePorts(kDefaultPorts);
    settings.samId = platform::codepage::Utf8ToUtf16(kDefaultSamId);
    settings.sexCode = kDefaultSexCode;
    settings.issuesNum = kDefaultIssuesNum;
    for (const auto& [key, text] : kDefaultTexts) {
        settings.texts.emplace_back(key, platform::codepage::Utf8ToUtf16(text));
    }
    return settings;
}

// Applies one "key = value" setting; false when the key or the value is not understood.
bool Apply(Settings& settings, const std::string& key, const std::string& value) {
    auto yesNo = [&](bool& field) {
        const auto parsed = ParseYesNo(value);
        field = parsed.value_or(field);
        return parsed.has_value();
    };
    if (key == "reader.ports") {
        const auto ports = ParsePorts(value);
        settings.ports = ports.value_or(settings.ports);
        return ports.has_value();
    }
    const std::pair<const char*, bool Settings::*> switches[] = {
        {"reader.close_ok", &Settings::closeOk},
        {"reader.sam_ok", &Settings::samOk},
        {"card.present", &Settings::cardPresent},
        {"card.find_ok", &Settings::findOk},
        {"card.select_ok", &Settings::selectOk},
        {"card.photo", &Settings::photo},
        {"sim.fill_whole_buffers", &Settings::fillWholeBuffers},
    };
    for (const auto& [name, field] : switches) {
        if (key == name) {
            return yesNo(settings.*field);
        }
    }
    if (key == "reader.sam_id") {
        settings.samId = platform::codepage::Utf8ToUtf16(value);
        return true;
    }
    if (key == "card.sex_code") {
        const auto code = ParseInteger(value, kIntMin, kIntMax);
        settings.sexCode = static_cast<std::int32_t>(code.value_or(settings.sexCode));
        return code.has_value();
    }
    if (key == "card.read_delay_ms") {
        const auto delay = ParseInteger(value, 0, kLongestReadDelayMs);
        settings.readDelayMs = static_cast<int>(delay.value_or(settings.readDelayMs));
        return delay.has_value();
    }
    if (key == "card.issues_num") {
        if (value.empty()) {
            settings.issuesNum.reset();
            return true;
        }
        const auto count = ParseInteger(value, 0, std::numeric_limits<std::uint32_t>::max());
        if (count) {
            settings.issuesNum = static_cast<std::uint32_t>(*count);
        }
        return count.has_value();
    }
    for (auto& [textKey, text] : settings.texts) {
        if (textKey == key) {
            text = platform::codepage::Utf8ToUtf16(value);
            return true;
        }
    }
    return false;
}

// A line on standard error for the person trying the stand-in.
void Report(const std::string& problem) {
    platform::WriteErrorLine(platform::codepage::Utf8ToUtf16("trovik-sim: " + problem));
}

Settings Parse(const std::string& content, const std::string& path, bool report) {
    Settings settings = Defaults();
    std::istringstream lines(content);
    int number = 0;
    for (std::string line; std::getline(lines, line);) {
        ++number;
        const std::string trimmed(platform::ascii::Trim(line, kLineBlanks));
        if (trimmed.empty() || trimmed.front() == '#') {
            continue;
        }
        const auto equals = trimmed.find('=');
        const std::string key =
            equals == std::string::npos
                ? trimmed
                : std::string(platform::ascii::Trim(trimmed.substr(0, equals), kLineBlanks));
        const std::string value = equals == std::string::npos
                                      ? std::string()
                                      : Unquote(std::string(platform::ascii::Trim(
                                            trimmed.substr(equals + 1), kLineBlanks)));
        if ((equals == std::string::npos || !Apply(settings, key, value)) && report) {
            Report(path + ":" + std::to_string(number) + ": ignored \"" + trimmed + "\"");
        }
    }
    return settings;
}

std::u16string SettingsFileBesideLibrary() {
    const std::u16string library =
        platform::ModuleFileOf(reinterpret_cast<const void*>(&CurrentSettings));
    if (library.empty()) {
        return {};
    }
    const auto separator = library.rfind(platform::kPathSeparator);
    const std::u16string directory =
        separator == std::u16string::npos ? std::u16string() : library.substr(0, separator + 1);
    return directory + u"trovik-sim.conf";
}

// Changed so lately that a further change within the clock's granularity would leave the same
// stamp: such a file is read again at every call until its stamp has aged.
bool IsRecent(const platform::FileStamp& stamp) {
    return std::chrono::system_clock::now() - std::max(stamp.modified, stamp.changed) <
           std::chrono::seconds(2);
}

// The settings last parsed, and the state of the file they came from.
struct ParsedFile {
    std::u16string path;
    platform::FileStamp stamp;
    std::shared_ptr<const Settings> settings;
};

}  // namespace

const std::u16string& Settings::Text(const std::string& key) const {
    static const std::u16string kEmpty;
    for (const auto& [textKey, text] : texts) {
        if (textKey == key) {
            return text;
        }
    }
    return kEmpty;
}

std::shared_ptr<const Settings> CurrentSettings() {
    // The library does not move: where it lies is looked up once.
    static const std::u16string besideLibrary = SettingsFileBesideLibrary();
    static std::mutex mutex;
    static std::string lastSource;  // what was last reported on, so problems show once
    static std::optional<ParsedFile> last;
    const std::lock_guard<std::mutex> lock(mutex);

    const std::u16string named =
        platform::EnvironmentValue(u"TROVIK_SIM_CONFIG").value_or(std::u16string());
    const bool explicitFile = !named.empty();
    const std::u16string& path = explicitFile ? named : besideLibrary;
    const platform::Result<platform::FileStamp> stamp = platform::StampOfFile(path);
    if (last && stamp && last->path == path && last->stamp == *stamp && !IsRecent(last->stamp)) {
        return last->settings;
    }
    last.reset();
    const std::string narrowPath = platform::codepage::Utf16ToUtf8(path);
    const auto content = path.empty() ? std::nullopt : sim::ReadTextFile(narrowPath);
    const std::string source = narrowPath + '\n' + content.value_or(std::string(1, '\0'));
    const bool report = source != lastSource;
    lastSource = source;
    if (!content) {
        if (explicitFile && report) {
            Report("cannot read " + narrowPath + "; using the built-in sample card");
        }
        return std::make_shared<const Settings>(Defaults());
    }
    auto settings = std::make_shared<const Settings>(Parse(*content, narrowPath, report));
    if (stamp) {
        last = ParsedFile{path, *stamp, settings};
    }
    return settings;
}

}  // namespace trovik_sim
