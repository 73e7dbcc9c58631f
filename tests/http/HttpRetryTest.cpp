// What is tried again, after how long, and the forms of Retry-After.
#include "http/HttpRetry.h"

#include <gtest/gtest.h>

namespace qm {
namespace {

using namespace std::chrono_literals;
using F = TRequestFailure;

TEST(HttpRetry, PassingReasonsAndStatuses)
{
    const struct {
        F Kind;
        int Status;
        bool Passing;
    } cases[] = {
        {F::Lookup, 404, true},     {F::Connect, 404, true},     {F::Reset, 404, true},
        {F::CutShort, 0, true},     {F::ShortBody, 200, true},   {F::Stall, 404, true},
        {F::Status, 408, true},     {F::Status, 429, true},      {F::Status, 500, true},
        {F::Status, 502, true},     {F::Status, 503, true},      {F::Status, 504, true},
        {F::Status, 404, false},    {F::Status, 403, false},     {F::Status, 501, false},
        {F::Status, 505, false},    {F::Status, 400, false},     {F::Status, 304, false},
        {F::Tls, 404, false},       {F::Downgrade, 404, false},  {F::TooLarge, 404, false},
        {F::NotVerified, 200, false}, {F::Malformed, 404, false}, {F::Local, 404, false},
        {F::Aborted, 404, false},   {F::None, 200, false},       {F::Reset, 503, true},
    };
    for (const auto& c : cases)
        EXPECT_EQ(IsPassing(c.Kind, c.Status), c.Passing) << FailureName(c.Kind) << " " << c.Status;
}

TEST(HttpRetry, RetryAfterForms)
{
    constexpr std::int64_t now = 784111777; // Sun, 06 Nov 1994 08:49:37 GMT
    const struct {
        const char* Value;
        std::optional<std::chrono::seconds> Delay;
    } cases[] = {
        {"0", 0s},
        {" 7 ", 7s},
        {"60", 60s},
        {"61", 60s},
        {"99999999999999999999999", 60s},
        {"Sun, 06 Nov 1994 08:50:07 GMT", 30s},
        {"Sunday, 06-Nov-94 08:50:07 GMT", 30s},
        {"Sun Nov  6 08:50:07 1994", 30s},
        {"Sun, 06 Nov 1994 09:49:37 GMT", 60s},
        {"Sun, 06 Nov 1994 08:00:00 GMT", 0s},
        {"Sun, 31 Feb 1994 08:50:07 GMT", std::nullopt},
        {"Sun, 06 Nov 1994 08:50:07 CET", std::nullopt},
        {"-5", std::nullopt},
        {"1.5", std::nullopt},
        {"soon", std::nullopt},
        {"", std::nullopt},
    };
    for (const auto& c : cases)
        EXPECT_EQ(ParseRetryAfter(c.Value, now, 60s), c.Delay) << c.Value;
}

TEST(HttpRetry, BackOffFollowsThePolicyUnlessTheServerSaysOtherwise)
{
    const TRetryPolicy policy;
    EXPECT_EQ(RetryDelay(policy, 1, std::nullopt), 2s);
    EXPECT_EQ(RetryDelay(policy, 2, std::nullopt), 8s);
    EXPECT_EQ(RetryDelay(policy, 5, std::nullopt), 8s);
    EXPECT_EQ(RetryDelay(policy, 1, 30s), 30s);
    EXPECT_EQ(RetryDelay(policy, 1, 600s), 60s);
}

// Each row: the sources, the first, and the failures in the order tried;
// Steps: what the rounds answer to each ("n" next source, "w" wait, "g"
// give up), Tried: the source each was made at.
TEST(HttpRetry, SourceRoundsTryEverySourceAndWaitOnlyBetweenRounds)
{
    const struct {
        const char* Name;
        int Sources, First;
        std::vector<std::pair<F, int>> Failures;
        std::string Steps, Tried;
    } cases[] = {
        {"one source: as retries", 1, 0, {{F::Status, 503}, {F::Reset, 0}, {F::Stall, 0}}, "wwg", "000"},
        {"one source, a 404", 1, 0, {{F::Status, 404}}, "g", "0"},
        {"two, the second preferred", 2, 1, {{F::Connect, 0}, {F::Status, 404}, {F::Status, 404}, {F::Status, 404}},
         "nwng", "1010"},
        {"three, none passing", 3, 0, {{F::NotVerified, 200}, {F::TooLarge, 200}, {F::Status, 404}}, "nng", "012"},
        {"three rounds at most", 2, 0,
         {{F::Status, 503}, {F::Connect, 0}, {F::Status, 503}, {F::Status, 503}, {F::Lookup, 0}, {F::Stall, 0}},
         "nwnwng", "010101"},
        {"aborted ends at once", 2, 0, {{F::Aborted, 404}}, "g", "0"},
    };
    for (const auto& c : cases) {
        const TRetryPolicy policy;
        TSourceRounds rounds(policy, c.Sources, c.First);
        std::string steps, tried;
        for (const auto& [kind, status] : c.Failures) {
            tried += static_cast<char>('0' + rounds.Source());
            const TSourceRounds::TStep step = rounds.Failed(kind, status, "", 0);
            steps += step == TSourceRounds::TStep::NextSource ? 'n' : step == TSourceRounds::TStep::Wait ? 'w' : 'g';
        }
        EXPECT_EQ(steps, c.Steps) << c.Name;
        EXPECT_EQ(tried, c.Tried) << c.Name;
    }
    // The round's wait: the policy's, or the largest Retry-After in it.
    const TRetryPolicy policy;
    TSourceRounds rounds(policy, 3);
    rounds.Failed(F::Status, 503, "5", 0);
    rounds.Failed(F::Status, 429, "30", 0);
    ASSERT_EQ(rounds.Failed(F::Status, 404, "", 0), TSourceRounds::TStep::Wait);
    EXPECT_EQ(rounds.Delay(), 30s);
    rounds.Failed(F::Connect, 0, "", 0);
    rounds.Failed(F::Connect, 0, "", 0);
    ASSERT_EQ(rounds.Failed(F::Connect, 0, "", 0), TSourceRounds::TStep::Wait);
    EXPECT_EQ(rounds.Delay(), 8s);
}

} // namespace
} // namespace qm
