#include "update_server/client_census.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace qm::server {
namespace {

using Verdict = ClientCensus::Room::Verdict;

net::SocketHandle Socket(int number) {
    return net::SocketHandle(number);
}

// What happens to each connection that arrives, after those before it: the room it finds among
// all connections and among those from its address.
struct Arrival {
    char const* host;
    bool logsIn;          // logs in as soon as it is placed
    Verdict all;          // ForConnection
    int allVictim;        // the connection closed for it, -1 for none
    Verdict fromAddress;  // ForAddress
    int addressVictim;
};

// Plays arrivals on a census of `most` clients, 2 from one address; each socket is its index + 10.
void Play(std::vector<Arrival> const& arrivals, std::size_t most = 3) {
    ClientCensus census(most, 2);
    for (std::size_t i = 0; i < arrivals.size(); ++i) {
        SCOPED_TRACE("arrival " + std::to_string(i));
        Arrival const& arrival = arrivals[i];
        net::SocketHandle const socket = Socket(static_cast<int>(i) + 10);
        ClientCensus::Room const all = census.ForConnection();
        EXPECT_EQ(all.verdict, arrival.all);
        EXPECT_EQ(all.victim.native(), arrival.allVictim);
        if (all.verdict == Verdict::None) {
            continue;
        }
        if (all.victim.valid()) {
            census.Remove(all.victim);
        }
        census.Add(socket);
        ClientCensus::Room const near = census.ForAddress(arrival.host, socket);
        EXPECT_EQ(near.verdict, arrival.fromAddress);
        EXPECT_EQ(near.victim.native(), arrival.addressVictim);
        if (near.verdict == Verdict::None) {
            census.Remove(socket);
            continue;
        }
        if (near.victim.valid()) {
            census.Remove(near.victim);
        }
        census.SetAddress(socket, arrival.host);
        if (arrival.logsIn) {
            census.LoggedIn(socket);
        }
    }
}

constexpr Verdict kFree = Verdict::Free;
constexpr Verdict kClosing = Verdict::MadeByClosing;
constexpr Verdict kNone = Verdict::None;

TEST(ClientCensus, FullMakesRoomByTheOldestNotLoggedInElseRefuses) {
    Play({
        {"a", false, kFree, -1, kFree, -1},     // 10
        {"b", true, kFree, -1, kFree, -1},      // 11
        {"c", false, kFree, -1, kFree, -1},     // 12: full now
        {"d", false, kClosing, 10, kFree, -1},  // 10 was the oldest not logged in
        {"e", true, kClosing, 12, kFree, -1},   // then 12; 13 is younger
        {"f", false, kClosing, 13, kFree, -1},  // 11 and 14 have logged in
        {"g", false, kClosing, 15, kFree, -1},
        {"h", false, kClosing, 16, kFree, -1},
    });
}

TEST(ClientCensus, FullOfLoggedInClientsRefusesNewOnes) {
    Play({
        {"a", true, kFree, -1, kFree, -1},
        {"b", true, kFree, -1, kFree, -1},
        {"c", true, kFree, -1, kFree, -1},
        {"d", false, kNone, -1, kFree, -1},
        {"e", true, kNone, -1, kFree, -1},
    });
}

TEST(ClientCensus, OneAddressMakesRoomAmongItsOwnOnly) {
    Play(
        {
            {"x", false, kFree, -1, kFree, -1},     // 10
            {"y", false, kFree, -1, kFree, -1},     // 11, older than x's second
            {"x", false, kFree, -1, kFree, -1},     // 12
            {"x", false, kFree, -1, kClosing, 10},  // x's oldest goes, not y's older one
            {"x", true, kFree, -1, kClosing, 12},
            {"x", false, kFree, -1, kClosing, 13},  // 14 has logged in
        },
        10);
    Play({
        {"x", true, kFree, -1, kFree, -1},
        {"x", true, kFree, -1, kFree, -1},
        {"x", false, kFree, -1, kNone, -1},  // both from x logged in: refused
        {"y", false, kFree, -1, kFree, -1},
    });
}

TEST(ClientCensus, CountsFollowRemovalsAndLogins) {
    ClientCensus census(10, 2);
    census.Add(Socket(1));
    census.Add(Socket(2));
    census.SetAddress(Socket(1), "x");
    census.SetAddress(Socket(2), "x");
    EXPECT_EQ(census.size(), 2u);
    EXPECT_EQ(census.Waiting(), 2u);
    EXPECT_EQ(census.OldestWaiting(), Socket(1));
    census.LoggedIn(Socket(1));
    census.LoggedIn(Socket(1));
    EXPECT_EQ(census.Waiting(), 1u);
    EXPECT_EQ(census.OldestWaiting(), Socket(2));
    census.Add(Socket(3));
    EXPECT_EQ(census.ForAddress("x", Socket(3)).verdict, Verdict::MadeByClosing);
    census.Remove(Socket(2));
    census.Remove(Socket(2));
    EXPECT_EQ(census.ForAddress("x", Socket(3)).verdict, Verdict::Free);
    census.SetAddress(Socket(3), "x");
    census.SetAddress(Socket(3), "y");  // an address is set once
    EXPECT_EQ(census.ForAddress("x", Socket(4)).victim, Socket(3));
    census.LoggedIn(Socket(3));
    EXPECT_EQ(census.ForAddress("x", Socket(4)).verdict, Verdict::None);
    EXPECT_EQ(census.ForAddress("y", Socket(4)).verdict, Verdict::Free);
    census.Remove(Socket(1));
    census.Remove(Socket(3));
    EXPECT_EQ(census.size(), 0u);
    EXPECT_EQ(census.OldestWaiting(), net::kNoSocket);
}

}  // namespace
}  // namespace qm::server
