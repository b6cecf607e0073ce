// Text form of the relay's counters.
#include "RelayCounters.h"

#include <sstream>

namespace Relay {

std::string RelayCounters::Format(std::size_t subscribers) const
{
    std::ostringstream text;
    text << "received " << received << "\n"
         << "group_messages " << groupMessages << "\n"
         << "forwarded " << forwarded << "\n"
         << "subscriptions " << subscriptions << "\n"
         << "subscription_lists " << subscriptionLists << "\n"
         << "malformed " << malformed << "\n"
         << "unknown_type " << unknownType << "\n"
         << "unexpected " << unexpected << "\n"
         << "notifications_sent " << notificationsSent << "\n"
         << "send_errors " << sendErrors << "\n"
         << "refused_subscribers " << refusedSubscribers << "\n"
         << "forgotten_subscribers " << forgottenSubscribers << "\n"
         << "subscribers " << subscribers << "\n";
    return text.str();
}

} // namespace Relay
