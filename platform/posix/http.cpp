// libcurl's easy interface, one handle per request.
#include <curl/curl.h>

#include <mutex>
#include <string>

#include "platform/http.h"

namespace platform {

namespace {

struct Transfer {
  const std::atomic<bool>* cancel;
  size_t maxBytes;
  std::string body;
  bool tooLarge = false;
};

size_t onData(char* data, size_t size, size_t count, void* user) {
  Transfer& t = *static_cast<Transfer*>(user);
  size_t n = size * count;
  if (t.body.size() + n > t.maxBytes) {
    t.tooLarge = true;
    return 0;  // ends the transfer
  }
  t.body.append(data, n);
  return n;
}

int onProgress(void* user, curl_off_t, curl_off_t, curl_off_t, curl_off_t) {
  const Transfer& t = *static_cast<const Transfer*>(user);
  return t.cancel && t.cancel->load() ? 1 : 0;
}

HttpFailure failureOf(CURLcode rc, const Transfer& t) {
  switch (rc) {
    case CURLE_COULDNT_RESOLVE_HOST:
    case CURLE_COULDNT_RESOLVE_PROXY: return HttpFailure::kNameNotFound;
    case CURLE_COULDNT_CONNECT: return HttpFailure::kConnectFailed;
    case CURLE_SSL_CONNECT_ERROR:
    case CURLE_PEER_FAILED_VERIFICATION:
    case CURLE_SSL_CERTPROBLEM:
    case CURLE_SSL_CACERT_BADFILE: return HttpFailure::kTlsFailed;
    case CURLE_OPERATION_TIMEDOUT: return HttpFailure::kTimedOut;
    case CURLE_ABORTED_BY_CALLBACK: return HttpFailure::kCancelled;
    case CURLE_WRITE_ERROR: return t.tooLarge ? HttpFailure::kTooLarge : HttpFailure::kOther;
    default: return HttpFailure::kOther;
  }
}

}  // namespace

HttpReply httpPostForm(const char* url, const std::string& form, const std::atomic<bool>* cancel, int timeoutMs,
                       size_t maxReplyBytes) {
  HttpReply reply;
  if (!httpUrlAllowed(url)) {
    reply.failure = HttpFailure::kUrlRefused;
    reply.reason = "URL refused";
    return reply;
  }
  static std::once_flag once;
  std::call_once(once, [] { curl_global_init(CURL_GLOBAL_DEFAULT); });
  CURL* curl = curl_easy_init();
  if (!curl) {
    reply.failure = HttpFailure::kOther;
    reply.reason = "curl_easy_init failed";
    return reply;
  }
  Transfer t{cancel, maxReplyBytes, {}};
  char error[CURL_ERROR_SIZE] = "";
  curl_easy_setopt(curl, CURLOPT_URL, url);
  curl_easy_setopt(curl, CURLOPT_POSTFIELDS, form.c_str());
  curl_easy_setopt(curl, CURLOPT_POSTFIELDSIZE_LARGE, static_cast<curl_off_t>(form.size()));
  curl_easy_setopt(curl, CURLOPT_TIMEOUT_MS, static_cast<long>(timeoutMs));
  curl_easy_setopt(curl, CURLOPT_NOSIGNAL, 1L);
  curl_easy_setopt(curl, CURLOPT_NOPROXY, "127.0.0.1,localhost,::1");
  curl_easy_setopt(curl, CURLOPT_PROTOCOLS_STR, "http,https");
  curl_easy_setopt(curl, CURLOPT_FOLLOWLOCATION, 0L);
  curl_easy_setopt(curl, CURLOPT_WRITEFUNCTION, onData);
  curl_easy_setopt(curl, CURLOPT_WRITEDATA, &t);
  curl_easy_setopt(curl, CURLOPT_XFERINFOFUNCTION, onProgress);
  curl_easy_setopt(curl, CURLOPT_XFERINFODATA, &t);
  curl_easy_setopt(curl, CURLOPT_NOPROGRESS, 0L);
  curl_easy_setopt(curl, CURLOPT_ERRORBUFFER, error);
  struct curl_slist* headers = curl_slist_append(nullptr, "Accept: application/json");
  curl_easy_setopt(curl, CURLOPT_HTTPHEADER, headers);
  CURLcode rc = curl_easy_perform(curl);
  if (rc == CURLE_OK) {
    long status = 0;
    curl_easy_getinfo(curl, CURLINFO_RESPONSE_CODE, &status);
    reply.status = static_cast<int>(status);
    reply.body.swap(t.body);
  } else {
    reply.failure = failureOf(rc, t);
    reply.systemError = static_cast<int>(rc);
    reply.reason = error[0] ? error : curl_easy_strerror(rc);
  }
  curl_slist_free_all(headers);
  curl_easy_cleanup(curl);
  return reply;
}

}  // namespace platform
