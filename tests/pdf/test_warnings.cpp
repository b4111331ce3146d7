// The warning sink: reports reach the sink of the calling thread only, repeats
// are merged, each page keeps a bounded number, and the total counts them all.
#include <gtest/gtest.h>

#include <string>
#include <thread>
#include <vector>

#include "pdf/kxWarnings.h"

using namespace pw;

TEST(Warnings, ScopeRoutesReportsOfItsThread) {
  ReportWarning("nobody listens");  // no sink: nothing happens
  TkxWarningSink outer, inner;
  {
    TkxWarningScope a(outer);
    ReportWarning("one", 7, 120);
    {
      TkxWarningScope b(inner);
      ReportWarning("two");
    }
    ReportWarning("three");
    // Another thread has no sink of its own.
    std::thread([] { ReportWarning("elsewhere"); }).join();
  }
  EXPECT_EQ(CurrentWarningSink(), nullptr);
  ASSERT_EQ(outer.Count(), 2u);
  ASSERT_EQ(inner.Count(), 1u);
  std::vector<TkxWarning> w = outer.Warnings();
  EXPECT_EQ(w[0].Text, "one");
  EXPECT_EQ(w[0].Object, 7);
  EXPECT_EQ(w[0].Offset, 120);
  EXPECT_EQ(w[1].Text, "three");
  EXPECT_EQ(w[1].Object, -1);
}

TEST(Warnings, RepeatsMergeAndPagesAreCapped) {
  TkxWarningSink sink;
  sink.SetPage(3);
  for (int i = 0; i < 5; ++i) sink.Add("same");
  sink.Add("same", -1, 99);  // the same warning elsewhere on the page
  for (size_t i = 0; i < TkxWarningSink::kMaxPerPage + 10; ++i) sink.Add("bad operator " + std::to_string(i));
  sink.SetPage(4);
  sink.Add("same");
  // A fault at one place of the file, met again on a later page.
  sink.Add("bad key", 12, 345);
  sink.SetPage(5);
  sink.Add("bad key", 12, 345);
  std::vector<TkxWarning> w = sink.Warnings();
  EXPECT_EQ(sink.Count(), 6 + TkxWarningSink::kMaxPerPage + 10 + 1 + 1);
  ASSERT_EQ(w.size(), TkxWarningSink::kMaxPerPage + 2);
  EXPECT_EQ(w[0].Repeats, 6u);
  EXPECT_EQ(w[0].Offset, -1);
  EXPECT_EQ(w[0].Page, 3);
  EXPECT_EQ(sink.Dropped(3), 11u);
  EXPECT_EQ(sink.Dropped(4), 0u);
  EXPECT_EQ(w.back().Page, 4);
  EXPECT_EQ(w.back().Repeats, 1u);
}

TEST(Warnings, ManyThreadsReportToOneSink) {
  TkxWarningSink sink;
  std::vector<std::thread> threads;
  for (int t = 0; t < 4; ++t)
    threads.emplace_back([&sink, t] {
      TkxWarningScope scope(sink);
      for (int i = 0; i < 1000; ++i) ReportWarning(i % 3 ? "w" : "v", t, i);
    });
  for (std::thread& th : threads) th.join();
  EXPECT_EQ(sink.Count(), 4000u);
  EXPECT_EQ(sink.Warnings().size(), 8u);
}
