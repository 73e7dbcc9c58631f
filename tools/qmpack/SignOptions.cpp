#include "SignOptions.h"

#include "release/ReleaseFiles.h"

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <map>

namespace qm::pack {
namespace {

namespace chr = std::chrono;

constexpr std::int64_t EndOfYear9999 = 253402300800; // 10000-01-01 00:00:00 UTC

constexpr const char* Options[] = {"--sign", "--key", "--sequence", "--expires"};

// Each option's value, taken out of Args; Error names a missing or repeated one.
std::map<std::string, std::string> TakeValues(std::vector<std::string>& Args, std::string& Error)
{
    std::map<std::string, std::string> values;
    for (std::size_t i = 0; i < Args.size();) {
        const auto known = std::find(std::begin(Options), std::end(Options), Args[i]);
        if (known == std::end(Options)) {
            ++i;
            continue;
        }
        if (i + 1 >= Args.size() || values.contains(Args[i])) {
            Error = Args[i] + " takes one value, once";
            return values;
        }
        values[Args[i]] = Args[i + 1];
        Args.erase(Args.begin() + static_cast<std::ptrdiff_t>(i), Args.begin() + static_cast<std::ptrdiff_t>(i) + 2);
    }
    return values;
}

// Exactly Count decimal digits of Text from Pos on.
std::optional<int> Digits(std::string_view Text, std::size_t Pos, std::size_t Count)
{
    int value = 0;
    for (std::size_t i = Pos; i < Pos + Count; ++i) {
        if (i >= Text.size() || Text[i] < '0' || Text[i] > '9')
            return std::nullopt;
        value = value * 10 + (Text[i] - '0');
    }
    return value;
}

// Every "--mirror URL" taken out of Args, in order; Error for a bad one.
std::vector<std::string> TakeMirrors(std::vector<std::string>& Args, std::string& Error)
{
    std::vector<std::string> mirrors;
    for (auto at = std::find(Args.begin(), Args.end(), "--mirror"); at != Args.end() && Error.empty();
         at = std::find(Args.begin(), Args.end(), "--mirror")) {
        if (at + 1 == Args.end()) {
            Error = "--mirror takes one value";
            break;
        }
        if (const std::optional<std::string> problem = MirrorURLProblem(at[1]))
            Error = "--mirror " + at[1].substr(0, 80) + ": " + *problem;
        mirrors.push_back(at[1]);
        Args.erase(at, at + 2);
    }
    if (mirrors.size() > MaxSignedMirrors && Error.empty())
        Error = "--mirror: at most " + std::to_string(MaxSignedMirrors) + " mirrors";
    return mirrors;
}

} // namespace

TSignOptions TakeSignOptions(std::vector<std::string>& Args)
{
    TSignOptions options;
    options.Mirrors = TakeMirrors(Args, options.Error);
    if (!options.Error.empty())
        return options;
    const std::map<std::string, std::string> values = TakeValues(Args, options.Error);
    if (!options.Error.empty())
        return options;
    const auto value = [&](const char* Name) {
        const auto found = values.find(Name);
        return found == values.end() ? std::nullopt : std::optional(found->second);
    };
    if (const auto key = value("--sign"))
        options.SignKey = *key;
    if (const auto key = value("--key"))
        options.VerifyKey = *key;
    if (const auto text = value("--sequence")) {
        if (const auto number = SignatureNumber(*text))
            options.Sequence = static_cast<std::uint64_t>(*number);
        else
            options.Error = "--sequence " + *text + ": not a decimal number from 0 to 9223372036854775807";
    }
    if (const auto text = value("--expires")) {
        options.Expires = EndOfUtcDay(*text);
        if (!options.Expires)
            options.Error = "--expires " + *text + ": not a date YYYY-MM-DD (1970 to 9999)";
    }
    if ((options.Sequence || options.Expires || !options.Mirrors.empty()) && !options.SignKey &&
        options.Error.empty())
        options.Error = "--sequence, --expires and --mirror go only with --sign";
    return options;
}

std::optional<std::int64_t> EndOfUtcDay(std::string_view Date)
{
    const std::optional<int> year = Digits(Date, 0, 4);
    const std::optional<int> month = Digits(Date, 5, 2);
    const std::optional<int> day = Digits(Date, 8, 2);
    if (Date.size() != 10 || Date[4] != '-' || Date[7] != '-' || !year || !month || !day || *year < 1970)
        return std::nullopt;
    const chr::year_month_day date{chr::year(*year), chr::month(static_cast<unsigned>(*month)),
                                   chr::day(static_cast<unsigned>(*day))};
    if (!date.ok())
        return std::nullopt;
    return chr::duration_cast<chr::seconds>((chr::sys_days(date) + chr::days(1)).time_since_epoch()).count();
}

std::string UtcText(std::int64_t Seconds)
{
    if (Seconds < 0 || Seconds >= EndOfYear9999)
        return std::to_string(Seconds) + " seconds after 1970-01-01 UTC";
    const chr::sys_seconds time{chr::seconds(Seconds)};
    const chr::sys_days day = chr::floor<chr::days>(time);
    const chr::year_month_day date(day);
    const chr::hh_mm_ss clock(time - day);
    char text[48];
    std::snprintf(text, sizeof text, "%04d-%02u-%02u %02d:%02d:%02d UTC", static_cast<int>(date.year()),
                  static_cast<unsigned>(date.month()), static_cast<unsigned>(date.day()),
                  static_cast<int>(clock.hours().count()), static_cast<int>(clock.minutes().count()),
                  static_cast<int>(clock.seconds().count()));
    return text;
}

std::int64_t UtcNow()
{
    return chr::duration_cast<chr::seconds>(chr::system_clock::now().time_since_epoch()).count();
}

} // namespace qm::pack
