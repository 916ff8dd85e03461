// Code-page converters of glibc's iconv, opened once per pair of encodings and thread and
// kept until the thread ends: opening one costs far more than a short conversion, and the
// exports convert item by item.
#pragma once

#include <iconv.h>

#include <cstdint>
#include <string>

namespace pelvar {

// The descriptor converting `from` to `to`, reset to its initial shift state; (iconv_t)-1
// when iconv knows no such pair (that answer is kept as well). Valid until the calling
// thread ends; never close it.
iconv_t CachedIconv(const std::string& to, const std::string& from);

// How many descriptors the process has opened so far (all threads).
int64_t IconvDescriptorsOpened();

}  // namespace pelvar
