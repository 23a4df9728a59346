#include "http/session_list.h"

#include <gtest/gtest.h>

#include <atomic>
#include <set>
#include <thread>

#include "util/date_time.h"

namespace quenby {
namespace {

constexpr double Msec = 1.0 / 86400000.0;

bool IsSessionKey(const std::string& key) {
  return key.size() == 15 && key.find_first_not_of(SessionIDAlphabet) == std::string::npos;
}

TEST(SessionIDTest, KeysUseTheAlphabetAndDoNotRepeat) {
  std::set<std::string> keys;
  for (int i = 0; i < 2000; ++i) {
    const std::string key = NewSessionID();
    EXPECT_TRUE(IsSessionKey(key)) << key;
    keys.insert(key);
  }
  EXPECT_EQ(keys.size(), 2000u);
  EXPECT_EQ(NewSessionID(0), "");
  EXPECT_EQ(NewSessionID(3).size(), 3u);
}

TEST(SessionListTest, StartFiresStartBeforeListingAndFindRenews) {
  THTTPDefaultSessionList list;
  int started = 0;
  int listed_during_start = -1;
  list.OnSessionStart = [&](THTTPSession& session) {
    ++started;
    listed_during_start = list.Count();
    EXPECT_EQ(session.OwnerList, &list);
  };
  THTTPSession& session = list.StartSession("10.0.0.1");
  EXPECT_EQ(started, 1);
  EXPECT_EQ(listed_during_start, 0);
  EXPECT_TRUE(IsSessionKey(session.SessionKey));
  EXPECT_EQ(session.ClientAddress, "10.0.0.1");

  session.SetLastAccess(1.0);
  EXPECT_EQ(list.FindSession(session.SessionKey, "10.0.0.1"), &session);
  EXPECT_NEAR(session.LastAccess(), Now(), 1000 * Msec);
}

TEST(SessionListTest, FindMatchesKeyIgnoringCaseAndRefusesOtherAddress) {
  THTTPDefaultSessionList list;
  THTTPSession& session = list.AddSession("10.0.0.1", "AbCdEfGhIjKlMnO");
  EXPECT_EQ(list.FindSession("abcdefghijklmno", "10.0.0.1"), &session);
  EXPECT_EQ(list.FindSession("AbCdEfGhIjKlMnO", "10.0.0.2"), nullptr);
  EXPECT_EQ(list.FindSession("AbCdEfGhIjKlMnO", ""), &session);
  EXPECT_EQ(list.FindSession("other", "10.0.0.1"), nullptr);
}

TEST(SessionListTest, PurgeEndsOnlyStaleSessionsUnlessAll) {
  THTTPDefaultSessionList list;
  list.SessionTimeout = 60000;
  std::vector<std::string> ended;
  list.OnSessionEnd = [&](THTTPSession& session) {
    ended.push_back(session.SessionKey);
    EXPECT_EQ(session.OwnerList, &list);
  };
  THTTPSession& fresh = list.AddSession("a", "fresh");
  THTTPSession& stale = list.AddSession("a", "stale");
  stale.SetLastAccess(Now() - 61000 * Msec);
  EXPECT_TRUE(stale.IsStale());
  EXPECT_FALSE(fresh.IsStale());

  list.PurgeSessions(false);
  EXPECT_EQ(ended, (std::vector<std::string>{"stale"}));
  EXPECT_EQ(list.Count(), 1);
  EXPECT_EQ(list.FindSession("fresh", "a"), &fresh);

  list.PurgeSessions(true);
  EXPECT_EQ(ended, (std::vector<std::string>{"stale", "fresh"}));
  EXPECT_EQ(list.Count(), 0);
}

TEST(SessionListTest, ClearEndsEverySessionOnceLastFirst) {
  std::vector<std::string> ended;
  {
    THTTPDefaultSessionList list;
    list.OnSessionEnd = [&](THTTPSession& session) { ended.push_back(session.SessionKey); };
    list.AddSession("a", "one");
    list.AddSession("a", "two");
    list.ClearSessions();
    EXPECT_EQ(ended, (std::vector<std::string>{"two", "one"}));
    EXPECT_EQ(list.Count(), 0);
    list.AddSession("a", "three");
  }
  // The list's destructor ends what is left.
  EXPECT_EQ(ended, (std::vector<std::string>{"two", "one", "three"}));
}

TEST(SessionListTest, EndHandlerMayUseTheList) {
  THTTPDefaultSessionList list;
  int looked_up = 0;
  list.OnSessionEnd = [&](THTTPSession& session) {
    EXPECT_EQ(list.FindSession(session.SessionKey, ""), nullptr);
    ++looked_up;
  };
  list.AddSession("a", "k1");
  list.AddSession("a", "k2");
  list.PurgeSessions(true);
  EXPECT_EQ(looked_up, 2);
}

TEST(SessionListTest, UnlinkedSessionEndsWhenItsOwnerDestroysIt) {
  THTTPDefaultSessionList list;
  int ended = 0;
  list.OnSessionEnd = [&](THTTPSession&) { ++ended; };
  THTTPSession& session = list.AddSession("a", "k");
  std::unique_ptr<THTTPSession> taken = list.UnlinkSession(session);
  ASSERT_EQ(taken.get(), &session);
  EXPECT_EQ(list.Count(), 0);
  EXPECT_EQ(list.UnlinkSession(*taken), nullptr);
  taken.reset();
  EXPECT_EQ(ended, 1);
  list.ClearSessions();
  EXPECT_EQ(ended, 1);
}

TEST(SessionListTest, InsertedHandlerSessionKeepsItsKeyAndIsStaleFromTheStart) {
  THTTPDefaultSessionList list;
  list.SessionTimeout = 1000;
  int started = 0;
  list.OnSessionStart = [&](THTTPSession&) { ++started; };
  auto made = std::make_unique<THTTPSession>(&list);
  made->SessionKey = "mine";
  THTTPSession& inserted = list.InsertSession(std::move(made));
  EXPECT_EQ(started, 1);
  EXPECT_EQ(list.FindSession("MINE", ""), &inserted);
  inserted.SetLastAccess(0);
  list.PurgeSessions(false);
  EXPECT_EQ(list.Count(), 0);
  EXPECT_THROW(list.InsertSession(nullptr), std::invalid_argument);
}

TEST(SessionListTest, SessionWithoutOwnerIsNeverStale) {
  THTTPSession orphan(nullptr, "k", "a");
  orphan.SetLastAccess(0);
  EXPECT_FALSE(orphan.IsStale());
}

TEST(SessionListTest, ConcurrentStartsGiveDistinctSessions) {
  constexpr int Threads = 8;
  constexpr int PerThread = 200;
  THTTPDefaultSessionList list;
  std::atomic<int> started{0};
  list.OnSessionStart = [&](THTTPSession&) { started.fetch_add(1); };
  std::vector<std::vector<std::string>> keys(Threads);
  {
    std::vector<std::jthread> threads;
    for (int t = 0; t < Threads; ++t) {
      threads.emplace_back([&list, &keys, t] {
        const std::string address = "10.0.0." + std::to_string(t);
        for (int i = 0; i < PerThread; ++i) {
          THTTPSession& session = list.StartSession(address);
          keys[static_cast<std::size_t>(t)].push_back(session.SessionKey);
          EXPECT_NE(list.FindSession(session.SessionKey, address), nullptr);
        }
      });
    }
  }
  std::set<std::string> distinct;
  for (const auto& thread_keys : keys)
    distinct.insert(thread_keys.begin(), thread_keys.end());
  EXPECT_EQ(distinct.size(), static_cast<std::size_t>(Threads * PerThread));
  EXPECT_EQ(list.Count(), Threads * PerThread);
  EXPECT_EQ(started.load(), Threads * PerThread);
}

TEST(SessionListTest, PurgeRacesWithLookupsSafely) {
  THTTPDefaultSessionList list;
  list.SessionTimeout = 0;
  for (int i = 0; i < 100; ++i)
    list.AddSession("a", "key" + std::to_string(i));
  std::jthread finder([&list] {
    for (int round = 0; round < 50; ++round)
      for (int i = 0; i < 100; ++i)
        list.FindSession("key" + std::to_string(i), "a");
  });
  for (int round = 0; round < 20; ++round) {
    list.PurgeSessions(false);
    list.AddSession("a", "late" + std::to_string(round));
  }
  finder.join();
  list.PurgeSessions(true);
  EXPECT_EQ(list.Count(), 0);
}

}  // namespace
}  // namespace quenby
