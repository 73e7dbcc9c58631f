// Why a request failed, whether trying it again may help, how long to wait
// before the next try, and which source to try next. The one place that
// decides: the download run and qmget walk their sources with TSourceRounds,
// which asks IsPassing, ParseRetryAfter and RetryDelay. Portable: no
// Windows, no global state.
#pragma once

#include <chrono>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace qm {

// Each reason once: its enumerator, whether a new try may succeed, and its
// name in the log. Status is decided by the status code (IsPassing).
#define QM_REQUEST_FAILURES(X)                                                         \
    X(None, false, "none")                                                             \
    X(Lookup, true, "the name lookup failed")                                          \
    X(Connect, true, "no connection")                                                  \
    X(Reset, true, "the connection was reset")                                         \
    X(CutShort, true, "the connection was cut short")                                  \
    X(ShortBody, true, "the body was shorter than its length")                         \
    X(Stall, true, "the server stopped answering")                                     \
    X(Status, false, "the server's status")                                            \
    X(Tls, false, "a certificate or TLS refusal")                                      \
    X(Downgrade, false, "a refused downgrade")                                         \
    X(TooLarge, false, "a body past its listed size")                                  \
    X(NotVerified, false, "a hash that does not verify")                               \
    X(Malformed, false, "a malformed response")                                        \
    X(Local, false, "a local error")                                                   \
    X(Aborted, false, "aborted on request")

enum class TRequestFailure : std::uint8_t {
#define QM_FAILURE_ENUM(Name, Passing, Text) Name,
    QM_REQUEST_FAILURES(QM_FAILURE_ENUM)
#undef QM_FAILURE_ENUM
};

// True when the same request may well succeed a little later: no
// connection, a reset or cut connection, a short body, a stall, or one of
// the statuses 408, 429, 500, 502, 503 and 504 (Status only). The list's
// signature, expiry and sequence are checked after both fetches have
// succeeded, so they never come here.
bool IsPassing(TRequestFailure Kind, int Status);

// The reason's name for the log ("the connection was reset").
std::string_view FailureName(TRequestFailure Kind);

// How often a request is tried and how long the run waits in between.
struct TRetryPolicy {
    int Attempts = 3; // in all; 1 turns retries off
    // Before the second try, the third, ...; the last one repeats.
    std::vector<std::chrono::milliseconds> Delays{std::chrono::seconds(2), std::chrono::seconds(8)};
    // A server's Retry-After is followed up to this long.
    std::chrono::seconds MaxRetryAfter{60};
};

// Retry-After: delta-seconds, or an HTTP date (IMF-fixdate, RFC 850 or
// asctime form, read as UTC) compared with NowUnix (seconds since 1970; a
// date past gives 0). At most Max. None for anything else (the caller keeps
// its own back-off).
std::optional<std::chrono::seconds> ParseRetryAfter(std::string_view Value, std::int64_t NowUnix,
                                                    std::chrono::seconds Max);

// The wait after failed try Failed (1-based): the server's RetryAfter when
// it gave one, else the policy's delay.
std::chrono::milliseconds RetryDelay(const TRetryPolicy& Policy, int Failed,
                                     std::optional<std::chrono::seconds> RetryAfter);

// The order of tries of one request over several sources (base URLs that
// serve the same files). A round is one try at every source, starting at
// First and going on in order (wrapping round); a failure hands the request
// to the next source at once. When a round has ended, another follows only
// if some source of it failed in a passing way, after the policy's delay
// for that round (or the largest Retry-After given in it), and at most
// Policy.Attempts rounds are made. With one source this is a request tried
// again while it fails for a passing reason, as before.
class TSourceRounds {
public:
    enum class TStep : std::uint8_t {
        NextSource, // try Source() now
        Wait,       // wait Delay(), then try Source() (a new round)
        GiveUp,     // the last failure is the request's
    };

    TSourceRounds(const TRetryPolicy& Policy, int Sources, int First = 0);

    int Source() const { return source_; } // the source to try now
    int Round() const { return round_; }   // 1-based
    int Rounds() const { return rounds_; } // at most
    // After a failed try at Source(); NowUnix reads an HTTP-date Retry-After.
    TStep Failed(TRequestFailure Kind, int Status, std::string_view RetryAfter, std::int64_t NowUnix);
    // The wait before the round that Wait announced.
    std::chrono::milliseconds Delay() const { return delay_; }

private:
    const TRetryPolicy& policy_;
    int sources_;
    int first_;
    int source_;
    int tried_ = 0; // in this round
    int round_ = 1;
    int rounds_;
    bool passing_ = false; // some source of this round failed passing
    std::optional<std::chrono::seconds> retryAfter_;
    std::chrono::milliseconds delay_{0};
};

} // namespace qm
