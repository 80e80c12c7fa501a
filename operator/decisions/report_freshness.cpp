#include "operator/decisions/report_freshness.h"

namespace {

constexpr std::uint64_t TicksPerSecond = 10'000'000;
// The clock and the tick count are read a moment apart and drift a little.
constexpr std::uint64_t SlackTicks = 5 * TicksPerSecond;
// From 1601-01-01 to 1970-01-01.
constexpr std::uint64_t UnixEpochSeconds = 11'644'473'600;

void AppendTwoDigits(FixedText<24>& Text, unsigned Value, const char* After)
{
    const wchar_t digits[] = {static_cast<wchar_t>(L'0' + Value / 10 % 10), static_cast<wchar_t>(L'0' + Value % 10)};
    Text.Append(std::wstring_view(digits, 2));
    Text.Append(std::string_view(After));
}

}  // namespace

// The civil date from days since 1970 (Howard Hinnant's days_from_civil,
// inverted).
FixedText<24> Iso8601(std::uint64_t FileTime)
{
    const std::uint64_t seconds = FileTime / TicksPerSecond - UnixEpochSeconds;
    const std::uint64_t days = seconds / 86400 + 719468;
    const std::uint64_t era = days / 146097;
    const std::uint64_t dayOfEra = days - era * 146097;
    const std::uint64_t yearOfEra = (dayOfEra - dayOfEra / 1460 + dayOfEra / 36524 - dayOfEra / 146096) / 365;
    const std::uint64_t dayOfYear = dayOfEra - (365 * yearOfEra + yearOfEra / 4 - yearOfEra / 100);
    const std::uint64_t shifted = (5 * dayOfYear + 2) / 153;
    const auto day = static_cast<unsigned>(dayOfYear - (153 * shifted + 2) / 5 + 1);
    const auto month = static_cast<unsigned>(shifted < 10 ? shifted + 3 : shifted - 9);
    const std::uint64_t year = yearOfEra + era * 400 + (month <= 2 ? 1 : 0);
    FixedText<24> text;
    text.AppendNumber(static_cast<unsigned long>(year));
    text.Append("-");
    AppendTwoDigits(text, month, "-");
    AppendTwoDigits(text, day, "T");
    AppendTwoDigits(text, static_cast<unsigned>(seconds / 3600 % 24), ":");
    AppendTwoDigits(text, static_cast<unsigned>(seconds / 60 % 60), ":");
    AppendTwoDigits(text, static_cast<unsigned>(seconds % 60), "Z");
    return text;
}

ReportFreshness AssessFreshness(const Report& Values, const ProcessorIdentity& Now, std::uint64_t LastWrite,
                                std::uint64_t Clock, std::uint64_t UptimeMs)
{
    ReportFreshness freshness;
    if (!Values.Written()) {
        return freshness;
    }
    freshness.MatchesProcessor = Values.Vendor.View() == Now.Vendor.View() &&
                                 (!Values.NamePresent || Values.Name.View() == Now.Brand.View());
    if (LastWrite >= UnixEpochSeconds * TicksPerSecond) {
        freshness.Known = true;
        freshness.WrittenUtc = Iso8601(LastWrite);
        const std::uint64_t uptime = UptimeMs * (TicksPerSecond / 1000);
        freshness.ThisBoot = uptime + SlackTicks >= Clock || LastWrite + SlackTicks >= Clock - uptime;
    }
    return freshness;
}

void KeepOwnVendorsValues(Report& Values)
{
    using enum ReportFlag;
    const bool intel = Values.Vendor.View() == L"GenuineIntel";
    const bool amd = Values.Vendor.View() == L"AuthenticAMD";
    for (unsigned i = 0; i < ReportFlagCount; ++i) {
        const bool amdValue = i >= static_cast<unsigned>(Svm);
        if (!(amdValue ? amd : intel)) {
            Values.Flags[i] = FlagValue{};
        }
    }
}
