// What is tried again, after how long, and the forms of Retry-After.
#include "http/HttpRetry.h"

#include <gtest/gtest.h>

#include <map>

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

// Rows: sources, the first, failures in order (c no connection, 4/5 status, h hash, a aborted), the
// answers (n next source, w wait, g give up) and the source of each try.
TEST(HttpRetry, SourceRoundsTryEverySourceAndWaitOnlyBetweenRounds)
{
    const struct {
        int Sources, First;
        std::string Failures, Steps, Tried;
    } cases[] = {
        {1, 0, "55c", "wwg", "000"}, {1, 0, "4", "g", "0"},        {2, 1, "c444", "nwng", "1010"},
        {3, 0, "h44", "nng", "012"}, {2, 0, "5c555c", "nwnwng", "010101"}, {2, 0, "a", "g", "0"},
    };
    const std::map<char, std::pair<F, int>> kinds{
        {'c', {F::Connect, 0}}, {'4', {F::Status, 404}}, {'5', {F::Status, 503}}, {'h', {F::NotVerified, 200}},
        {'a', {F::Aborted, 404}}};
    const TRetryPolicy policy;
    for (const auto& c : cases) {
        TSourceRounds rounds(policy, c.Sources, c.First);
        std::string steps, tried;
        for (const char f : c.Failures) {
            tried += static_cast<char>('0' + rounds.Source());
            steps += "nwg"[static_cast<int>(rounds.Failed(kinds.at(f).first, kinds.at(f).second, "", 0))];
        }
        EXPECT_EQ(steps + " " + tried, c.Steps + " " + c.Tried) << c.Failures;
    }
    TSourceRounds rounds(policy, 2); // the round's wait: the largest Retry-After given in it
    rounds.Failed(F::Status, 503, "30", 0);
    EXPECT_EQ(rounds.Failed(F::Status, 429, "5", 0) == TSourceRounds::TStep::Wait ? rounds.Delay() : 0s, 30s);
}

} // namespace
} // namespace qm
