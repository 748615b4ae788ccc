// FeedViewer: one viewer of a picture feed (LiveFeed, TileFeed) for as long
// as it lives. Its wake function stays registered with the feed, and the
// feed hears when it goes (after the wake is unregistered, so no call of it
// is under way), to stop its work when nobody watches. Thread-safe to
// destroy from any thread.
#pragma once

#include <functional>
#include <memory>
#include <utility>

#include "server/events/WakeList.h"

class FeedViewer {
 public:
  FeedViewer(std::unique_ptr<WakeList::Subscription> wake, std::function<void()> left)
      : wake_(std::move(wake)), left_(std::move(left)) {}
  ~FeedViewer() {
    wake_.reset();
    left_();
  }
  FeedViewer(const FeedViewer&) = delete;
  FeedViewer& operator=(const FeedViewer&) = delete;

 private:
  std::unique_ptr<WakeList::Subscription> wake_;
  std::function<void()> left_;
};
