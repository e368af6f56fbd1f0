#include "webservice/host/command_line.h"

#include "platform/ascii.h"

namespace {

struct Switch {
    std::u16string_view name;
    HostCommand command;
};

constexpr Switch kRegistrationSwitches[] = {
    {u"UnregServer", HostCommand::UnregServer},
    {u"RegServer", HostCommand::RegServer},
    {u"UnregServerPerUser", HostCommand::UnregServerPerUser},
    {u"RegServerPerUser", HostCommand::RegServerPerUser},
};
constexpr Switch kServiceSwitch = {u"Service", HostCommand::Service};

// True when the text at word starts with name and the word ends right after it.
bool IsWord(std::u16string_view word, std::u16string_view name) {
    if (word.size() < name.size() ||
        !platform::ascii::EqualsIgnoringCase(word.substr(0, name.size()), name)) {
        return false;
    }
    return word.size() == name.size() || word[name.size()] == u' ' || word[name.size()] == u'\t';
}

// Calls visit with the text after each "-" or "/" in turn until it answers true.
template <typename Visit>
bool ForEachWord(std::u16string_view line, Visit visit) {
    for (size_t i = 0; i < line.size(); ++i) {
        if ((line[i] == u'-' || line[i] == u'/') && visit(line.substr(i + 1))) {
            return true;
        }
    }
    return false;
}

}  // namespace

HostCommand ParseCommandLine(std::u16string_view commandLine) {
    HostCommand found = HostCommand::Run;
    const auto isRegistrationSwitch = [&found](std::u16string_view word) {
        for (const Switch& candidate : kRegistrationSwitches) {
            if (IsWord(word, candidate.name)) {
                found = candidate.command;
                return true;
            }
        }
        return false;
    };
    if (ForEachWord(commandLine, isRegistrationSwitch)) {
        return found;
    }
    const auto isServiceSwitch = [](std::u16string_view word) {
        return IsWord(word, kServiceSwitch.name);
    };
    return ForEachWord(commandLine, isServiceSwitch) ? kServiceSwitch.command : HostCommand::Run;
}
