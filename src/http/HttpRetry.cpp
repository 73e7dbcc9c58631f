// The passing reasons, Retry-After and the back-off.
#include "http/HttpRetry.h"

#include "base/DateTime.h"
#include "base/Exception.h"

#include <algorithm>
#include <array>
#include <cmath>
#include <string>

namespace qm {
namespace {

struct TFailureRow {
    bool Passing;
    std::string_view Name;
};

constexpr std::array failureTable{
#define QM_FAILURE_ROW(Name, Passing, Text) TFailureRow{Passing, Text},
    QM_REQUEST_FAILURES(QM_FAILURE_ROW)
#undef QM_FAILURE_ROW
};

bool IsDigits(std::string_view S)
{
    return !S.empty() && std::all_of(S.begin(), S.end(), [](char C) { return C >= '0' && C <= '9'; });
}

bool IsLetters(std::string_view S)
{
    return !S.empty() && std::all_of(S.begin(), S.end(), [](char C) {
        return (C >= 'A' && C <= 'Z') || (C >= 'a' && C <= 'z');
    });
}

// A number of at most 4 digits; -1 for anything else.
int SmallNumber(std::string_view S)
{
    if (!IsDigits(S) || S.size() > 4)
        return -1;
    int n = 0;
    for (const char c : S)
        n = n * 10 + (c - '0');
    return n;
}

int MonthNumber(std::string_view S)
{
    constexpr std::string_view months = "JanFebMarAprMayJunJulAugSepOctNovDec";
    const std::size_t at = S.size() == 3 ? months.find(S) : std::string_view::npos;
    return at == std::string_view::npos || at % 3 != 0 ? -1 : static_cast<int>(at / 3) + 1;
}

std::vector<std::string_view> Tokens(std::string_view S)
{
    std::vector<std::string_view> tokens;
    std::size_t start = 0;
    for (std::size_t i = 0; i <= S.size(); ++i) {
        if (i < S.size() && S[i] != ' ' && S[i] != ',' && S[i] != '-')
            continue;
        if (i > start)
            tokens.push_back(S.substr(start, i - start));
        start = i + 1;
    }
    return tokens;
}

// Seconds since 1970 of an HTTP date, or none.
std::optional<std::int64_t> HttpDateSeconds(std::string_view S)
{
    std::vector<std::string_view> t = Tokens(S);
    if (t.empty() || !IsLetters(t[0]))
        return std::nullopt;
    t.erase(t.begin()); // the weekday says nothing the date does not
    // "06 Nov 1994 08:49:37 GMT" and "06-Nov-94 08:49:37 GMT", or asctime's
    // "Nov  6 08:49:37 1994".
    const bool asctime = t.size() == 4;
    if (!asctime && (t.size() != 5 || t[4] != "GMT"))
        return std::nullopt;
    const std::string_view day = asctime ? t[1] : t[0];
    const std::string_view month = asctime ? t[0] : t[1];
    const std::string_view year = asctime ? t[3] : t[2];
    const std::string_view time = asctime ? t[2] : t[3];
    int y = SmallNumber(year);
    if (year.size() == 2)
        y += y < 70 ? 2000 : 1900;
    else if (year.size() != 4)
        return std::nullopt;
    if (time.size() != 8 || time[2] != ':' || time[5] != ':')
        return std::nullopt;
    const int h = SmallNumber(time.substr(0, 2)), m = SmallNumber(time.substr(3, 2)), s = SmallNumber(time.substr(6, 2));
    const int d = day.size() <= 2 ? SmallNumber(day) : -1;
    const int mo = MonthNumber(month);
    if (y < 1 || d < 1 || mo < 1 || h < 0 || m < 0 || s < 0)
        return std::nullopt;
    try {
        const TDateTime value = EncodeDateTime(y, mo, d, h, m, s);
        constexpr double unixEpoch = 25569.0; // 1 January 1970 in TDateTime days
        return static_cast<std::int64_t>(std::llround((value - unixEpoch) * 86400.0));
    } catch (const Exception&) {
        return std::nullopt; // 31 February and the like
    }
}

} // namespace

bool IsPassing(TRequestFailure Kind, int Status)
{
    if (Kind == TRequestFailure::Status) {
        constexpr std::array passing{408, 429, 500, 502, 503, 504};
        return std::find(passing.begin(), passing.end(), Status) != passing.end();
    }
    return failureTable[static_cast<std::size_t>(Kind)].Passing;
}

std::string_view FailureName(TRequestFailure Kind)
{
    return failureTable[static_cast<std::size_t>(Kind)].Name;
}

std::optional<std::chrono::seconds> ParseRetryAfter(std::string_view Value, std::int64_t NowUnix,
                                                    std::chrono::seconds Max)
{
    while (!Value.empty() && (Value.front() == ' ' || Value.front() == '\t'))
        Value.remove_prefix(1);
    while (!Value.empty() && (Value.back() == ' ' || Value.back() == '\t'))
        Value.remove_suffix(1);
    std::int64_t seconds = 0;
    if (IsDigits(Value)) {
        // More digits than a cap can need: the cap.
        const std::size_t significant = Value.size() - std::min(Value.find_first_not_of('0'), Value.size());
        if (significant > 9)
            return Max;
        seconds = std::stoll(std::string(Value));
    } else if (const std::optional<std::int64_t> date = HttpDateSeconds(Value)) {
        seconds = std::max<std::int64_t>(*date - NowUnix, 0);
    } else {
        return std::nullopt;
    }
    return std::min(std::chrono::seconds(seconds), Max);
}

std::chrono::milliseconds RetryDelay(const TRetryPolicy& Policy, int Failed,
                                     std::optional<std::chrono::seconds> RetryAfter)
{
    if (RetryAfter)
        return std::min(*RetryAfter, Policy.MaxRetryAfter);
    if (Policy.Delays.empty())
        return std::chrono::milliseconds(0);
    const auto index = static_cast<std::size_t>(std::clamp(Failed - 1, 0, static_cast<int>(Policy.Delays.size()) - 1));
    return Policy.Delays[index];
}

TSourceRounds::TSourceRounds(const TRetryPolicy& Policy, int Sources, int First)
    : policy_(Policy), sources_(std::max(Sources, 1)), first_(std::clamp(First, 0, sources_ - 1)), source_(first_),
      rounds_(std::max(Policy.Attempts, 1))
{
}

TSourceRounds::TStep TSourceRounds::Failed(TRequestFailure Kind, int Status, std::string_view RetryAfter,
                                           std::int64_t NowUnix)
{
    if (Kind == TRequestFailure::Aborted || Kind == TRequestFailure::Local)
        return TStep::GiveUp; // the user or this machine ended it, not the source
    if (IsPassing(Kind, Status)) {
        passing_ = true;
        if (const auto after = ParseRetryAfter(RetryAfter, NowUnix, policy_.MaxRetryAfter))
            retryAfter_ = std::max(retryAfter_.value_or(std::chrono::seconds(0)), *after);
    }
    source_ = (source_ + 1) % sources_;
    if (++tried_ < sources_)
        return TStep::NextSource;
    if (!passing_ || round_ >= rounds_)
        return TStep::GiveUp;
    delay_ = RetryDelay(policy_, round_, retryAfter_);
    ++round_;
    tried_ = 0;
    passing_ = false;
    retryAfter_.reset();
    source_ = first_;
    return TStep::Wait;
}

} // namespace qm
