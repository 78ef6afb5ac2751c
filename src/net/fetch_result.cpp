#include "net/fetch_result.h"

#include "base/text_format.h"

std::u16string FetchFailureText(FetchFailure failure, uint32_t status) {
  switch (failure) {
    case FetchFailure::kNone:
      return u"no failure";
    case FetchFailure::kRefused:
      return u"refused";
    case FetchFailure::kTimedOut:
      return u"timed out";
    case FetchFailure::kNameNotResolved:
      return u"name not resolved";
    case FetchFailure::kHttpStatus:
      return FormatText(u"HTTP status %u", status);
    case FetchFailure::kBrokenOff:
      return u"broken off";
    case FetchFailure::kCancelled:
      return u"cancelled";
    case FetchFailure::kTooLarge:
      return u"too large";
    case FetchFailure::kBadRange:
      return u"wrong range";
    case FetchFailure::kFailed:
      break;
  }
  return u"failed";
}
