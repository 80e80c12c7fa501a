#include "operator/decisions/command_line.h"

namespace {

Action ActionNamed(std::wstring_view Name)
{
    constexpr struct {
        std::wstring_view Name;
        Action Do;
    } actions[] = {
        {L"run", Action::Run},       {L"report", Action::Report}, {L"install", Action::Install},
        {L"remove", Action::Remove}, {L"check", Action::Check},   {L"firmware-setup", Action::FirmwareSetup},
        {L"--help", Action::Help},   {L"-h", Action::Help},       {L"/?", Action::Help},
        {L"help", Action::Help},
    };
    for (const auto& action : actions) {
        if (action.Name == Name) {
            return action.Do;
        }
    }
    return Action::Usage;
}

}  // namespace

CommandLine ParseCommandLine(int Argc, const wchar_t* const* Argv)
{
    CommandLine command;
    command.NoArguments = Argc <= 1;
    int actions = 0;
    for (int i = 1; i < Argc; ++i) {
        const std::wstring_view arg = Argv[i];
        if (arg == L"--json") {
            command.Json = true;
        } else if (arg == L"--yes") {
            command.Yes = true;
        } else if (arg == FromExplorerMarker) {
            command.FromExplorer = true;
        } else if (++actions == 1) {
            command.Do = ActionNamed(arg);
        }
    }
    const bool jsonFits = command.Do == Action::Run || command.Do == Action::Report || command.Do == Action::Check;
    if (actions > 1 || (command.Json && !jsonFits) || (command.Yes && command.Do != Action::FirmwareSetup) ||
        (command.FromExplorer && command.Do != Action::Run)) {
        command.Do = Action::Usage;
    }
    return command;
}

bool RefusedOffX64(Action Do)
{
    return Do == Action::Report || Do == Action::Run || Do == Action::Install;
}

bool ShouldWaitForKey(const CommandLine& Command, const Console& Where)
{
    const bool explorer = (Command.NoArguments && Where.OwnedAlone) || Command.FromExplorer;
    return explorer && !Command.Json && Where.InputIsConsole && !Where.SessionZero;
}
