#include "platform/iconv_cache.h"

#include <atomic>
#include <map>
#include <utility>

namespace pelvar {

namespace {

std::atomic<int64_t> g_opened{0};

// The descriptors of one thread, closed when it ends.
class TIconvCache {
 public:
  ~TIconvCache() {
    for (auto& [key, cd] : descriptors_)
      if (cd != reinterpret_cast<iconv_t>(-1)) iconv_close(cd);
  }
  iconv_t Get(const std::string& to, const std::string& from) {
    auto key = std::make_pair(to, from);
    auto it = descriptors_.find(key);
    if (it == descriptors_.end()) {
      iconv_t cd = iconv_open(to.c_str(), from.c_str());
      if (cd != reinterpret_cast<iconv_t>(-1)) ++g_opened;
      it = descriptors_.emplace(std::move(key), cd).first;
    }
    if (it->second != reinterpret_cast<iconv_t>(-1)) iconv(it->second, nullptr, nullptr, nullptr, nullptr);
    return it->second;
  }

 private:
  std::map<std::pair<std::string, std::string>, iconv_t> descriptors_;
};

}  // namespace

iconv_t CachedIconv(const std::string& to, const std::string& from) {
  thread_local TIconvCache cache;
  return cache.Get(to, from);
}

int64_t IconvDescriptorsOpened() { return g_opened.load(); }

}  // namespace pelvar
