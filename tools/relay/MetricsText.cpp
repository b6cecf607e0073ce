// Prometheus text format, version 0.0.4: "# HELP" and "# TYPE" lines, then
// one sample a line; names follow the conventions (_total for counters,
// base units in the name).
#include "MetricsText.h"

#include <cstdio>
#include <sstream>

namespace Relay {

namespace {

class MetricWriter
{
public:
    void Family(const char* name, const char* type, const char* help)
    {
        mText << "# HELP halvane_relay_" << name << " " << help << "\n# TYPE halvane_relay_" << name << " " << type
              << "\n";
    }
    void Sample(const char* name, std::uint64_t value) { mText << "halvane_relay_" << name << " " << value << "\n"; }
    void Sample(const char* name, const char* label, const std::string& labelValue, std::uint64_t value)
    {
        mText << "halvane_relay_" << name << "{" << label << "=\"" << labelValue << "\"} " << value << "\n";
    }
    void Sample(const char* name, double value)
    {
        char number[32];
        std::snprintf(number, sizeof number, "%.9g", value);
        mText << "halvane_relay_" << name << " " << number << "\n";
    }
    std::string Text() const { return mText.str(); }

private:
    std::ostringstream mText;
};

template <typename Kind, std::size_t N>
void ByKind(MetricWriter& out, const char* name, const char* label, const std::array<std::uint64_t, N>& values)
{
    for (std::size_t i = 0; i < N; ++i)
        out.Sample(name, label, NameOf(static_cast<Kind>(i)), values[i]);
}

std::string Bound(double seconds)
{
    char text[32];
    std::snprintf(text, sizeof text, "%g", seconds);
    return text;
}

} // namespace

std::string PrometheusText(const RelayStats& stats, const std::string& version)
{
    MetricWriter out;
    out.Family("datagrams_received_total", "counter", "Datagrams read from the trunk port, by packet type.");
    ByKind<InKind>(out, "datagrams_received_total", "type", stats.router.datagramsIn);
    out.Family("received_bytes_total", "counter", "Bytes of datagrams read from the trunk port, by packet type.");
    ByKind<InKind>(out, "received_bytes_total", "type", stats.router.bytesIn);
    out.Family("datagrams_sent_total", "counter", "Datagrams sent, by packet type.");
    ByKind<OutKind>(out, "datagrams_sent_total", "type", stats.datagramsOut);
    out.Family("sent_bytes_total", "counter", "Bytes of datagrams sent, by packet type.");
    ByKind<OutKind>(out, "sent_bytes_total", "type", stats.bytesOut);
    out.Family("refusals_total", "counter", "Datagrams, copies, subscribers and groups refused, by reason.");
    ByKind<Refusal>(out, "refusals_total", "reason", stats.router.refusals);

    out.Family("send_errors_total", "counter", "Sends the system refused.");
    out.Sample("send_errors_total", stats.sendErrors);
    out.Family("proofs_total", "counter", "Challenge answers that proved their endpoint's address.");
    out.Sample("proofs_total", stats.router.proofs);
    out.Family("lapsed_proofs_total", "counter", "Proofs that lapsed because no new answer came.");
    out.Sample("lapsed_proofs_total", stats.router.lapsedProofs);
    out.Family("forgotten_subscribers_total", "counter", "Subscribers forgotten after their time-out.");
    out.Sample("forgotten_subscribers_total", stats.router.forgottenSubscribers);
    out.Family("evicted_subscribers_total", "counter", "Unproven subscribers that made room for proven ones.");
    out.Sample("evicted_subscribers_total", stats.router.evictedSubscribers);
    out.Family("receive_calls_total", "counter", "Receive system calls (each takes a batch of datagrams).");
    out.Sample("receive_calls_total", stats.receiveCalls);
    out.Family("send_calls_total", "counter", "Send system calls (each sends a batch of datagrams).");
    out.Sample("send_calls_total", stats.sendCalls);

    out.Family("subscribers", "gauge", "Endpoints in the subscriber table.");
    out.Sample("subscribers", static_cast<std::uint64_t>(stats.subscribers));
    out.Family("proven_subscribers", "gauge", "Endpoints in the table whose address is proven.");
    out.Sample("proven_subscribers", static_cast<std::uint64_t>(stats.provenSubscribers));
    out.Family("subscriptions", "gauge", "Group memberships of all endpoints.");
    out.Sample("subscriptions", static_cast<std::uint64_t>(stats.subscriptions));
    out.Family("groups", "gauge", "Groups with at least one subscriber.");
    out.Sample("groups", static_cast<std::uint64_t>(stats.groups));
    out.Family("source_addresses", "gauge", "Addresses with at least one subscribed endpoint.");
    out.Sample("source_addresses", static_cast<std::uint64_t>(stats.sourceAddresses));
    out.Family("workers", "gauge", "Forwarding threads running.");
    out.Sample("workers", static_cast<std::uint64_t>(stats.workers));

    out.Family("forwarding_latency_seconds", "histogram", "Time from reading a datagram to sending its last copy.");
    std::uint64_t cumulative = 0;
    for (std::size_t i = 0; i < LatencyHistogram::kBuckets; ++i) {
        cumulative += stats.latencyCounts[i];
        const std::string le = i < LatencyHistogram::kBounds.size() ? Bound(LatencyHistogram::kBounds[i]) : "+Inf";
        out.Sample("forwarding_latency_seconds_bucket", "le", le, cumulative);
    }
    out.Sample("forwarding_latency_seconds_sum", static_cast<double>(stats.latencySumNanoseconds) / 1e9);
    out.Sample("forwarding_latency_seconds_count", cumulative);

    out.Family("build_info", "gauge", "The relay's version, as a label.");
    out.Sample("build_info", "version", version, 1);
    return out.Text();
}

} // namespace Relay
