// Why a request failed, whether trying it again may help, and how long to
// wait before the next try. The one place that decides what is passing: the
// download run and qmget ask IsPassing and RetryDelay, and both read
// Retry-After with ParseRetryAfter. Portable: no Windows, no state.
#pragma once

#include <chrono>
#include <cstdint>
#include <optional>
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

} // namespace qm
