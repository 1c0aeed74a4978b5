// WinHTTP in its asynchronous mode: every step completes through the
// callback, and the caller waits for it in short slices, so that the cancel
// flag or the time bound closes the request from this thread. The request's
// record is freed only once WinHTTP says its handle is closing.
#include <windows.h>
#include <winhttp.h>

#include <atomic>
#include <chrono>
#include <cstdio>
#include <string>

#include "platform/http.h"

namespace platform {

namespace {

struct Call {
  HANDLE stepDone = CreateEventW(nullptr, FALSE, FALSE, nullptr);
  HANDLE closed = CreateEventW(nullptr, TRUE, FALSE, nullptr);
  DWORD error = 0;  // a step that failed
  DWORD count = 0;  // bytes available or read
  char buffer[8192];
  ~Call() {
    if (stepDone) CloseHandle(stepDone);
    if (closed) CloseHandle(closed);
  }
};

void CALLBACK onStatus(HINTERNET, DWORD_PTR context, DWORD status, LPVOID info, DWORD length) {
  Call* call = reinterpret_cast<Call*>(context);
  if (!call) return;
  switch (status) {
    case WINHTTP_CALLBACK_STATUS_DATA_AVAILABLE: call->count = *static_cast<DWORD*>(info); break;
    case WINHTTP_CALLBACK_STATUS_READ_COMPLETE: call->count = length; break;
    case WINHTTP_CALLBACK_STATUS_REQUEST_ERROR:
      call->error = static_cast<WINHTTP_ASYNC_RESULT*>(info)->dwError;
      if (call->error == 0) call->error = ERROR_WINHTTP_INTERNAL_ERROR;
      break;
    case WINHTTP_CALLBACK_STATUS_HANDLE_CLOSING: SetEvent(call->closed); return;
    case WINHTTP_CALLBACK_STATUS_SENDREQUEST_COMPLETE:
    case WINHTTP_CALLBACK_STATUS_HEADERS_AVAILABLE: break;
    default: return;
  }
  SetEvent(call->stepDone);
}

using Clock = std::chrono::steady_clock;

HttpFailure failureOf(DWORD error) {
  switch (error) {
    case ERROR_WINHTTP_NAME_NOT_RESOLVED: return HttpFailure::kNameNotFound;
    case ERROR_WINHTTP_CANNOT_CONNECT:
    case ERROR_WINHTTP_CONNECTION_ERROR: return HttpFailure::kConnectFailed;
    case ERROR_WINHTTP_SECURE_FAILURE:
    case ERROR_WINHTTP_SECURE_CERT_DATE_INVALID:
    case ERROR_WINHTTP_SECURE_CERT_CN_INVALID:
    case ERROR_WINHTTP_SECURE_INVALID_CA:
    case ERROR_WINHTTP_SECURE_CERT_REV_FAILED:
    case ERROR_WINHTTP_SECURE_CHANNEL_ERROR:
    case ERROR_WINHTTP_SECURE_INVALID_CERT:
    case ERROR_WINHTTP_SECURE_CERT_REVOKED: return HttpFailure::kTlsFailed;
    case ERROR_WINHTTP_TIMEOUT: return HttpFailure::kTimedOut;
    default: return HttpFailure::kOther;
  }
}

class Request {
 public:
  Request(const std::atomic<bool>* cancel, int timeoutMs)
      : cancel_(cancel), deadline_(Clock::now() + std::chrono::milliseconds(timeoutMs)) {}

  ~Request() {
    if (request_) {
      WinHttpCloseHandle(request_);
      // Until then a callback may still reach the record.
      if (WaitForSingleObject(call_->closed, 5000) != WAIT_OBJECT_0) call_ = nullptr;  // left to WinHTTP
    }
    delete call_;
    if (connect_) WinHttpCloseHandle(connect_);
    if (session_) WinHttpCloseHandle(session_);
  }

  HttpReply run(const char* url, const std::string& form, size_t maxBytes);

 private:
  bool fail(HttpFailure failure, DWORD error) {
    reply_.failure = failure;
    reply_.systemError = static_cast<int>(error);
    char text[64];
    snprintf(text, sizeof text, "WinHTTP %lu", static_cast<unsigned long>(error));
    reply_.reason = text;
    return false;
  }
  bool failedCall() { return fail(failureOf(GetLastError()), GetLastError()); }
  // Waits for the step begun (started: its call returned TRUE).
  bool step(BOOL started) {
    if (!started) return failedCall();
    for (;;) {
      if (WaitForSingleObject(call_->stepDone, 100) == WAIT_OBJECT_0) break;
      if (cancel_ && cancel_->load()) return fail(HttpFailure::kCancelled, ERROR_WINHTTP_OPERATION_CANCELLED);
      if (Clock::now() >= deadline_) return fail(HttpFailure::kTimedOut, ERROR_WINHTTP_TIMEOUT);
    }
    return call_->error == 0 || fail(failureOf(call_->error), call_->error);
  }

  const std::atomic<bool>* cancel_;
  Clock::time_point deadline_;
  HINTERNET session_ = nullptr;
  HINTERNET connect_ = nullptr;
  HINTERNET request_ = nullptr;
  Call* call_ = new Call;
  HttpReply reply_;
};

HttpReply Request::run(const char* url, const std::string& form, size_t maxBytes) {
  std::wstring wide(url, url + strlen(url));  // ASCII: httpUrlAllowed said so
  URL_COMPONENTS parts{};
  parts.dwStructSize = sizeof parts;
  parts.dwHostNameLength = parts.dwUrlPathLength = parts.dwExtraInfoLength = static_cast<DWORD>(-1);
  if (!call_->stepDone || !call_->closed) return fail(HttpFailure::kOther, GetLastError()), reply_;
  if (!WinHttpCrackUrl(wide.c_str(), 0, 0, &parts)) return fail(HttpFailure::kUrlRefused, GetLastError()), reply_;
  std::wstring host(parts.lpszHostName, parts.dwHostNameLength);
  std::wstring path(parts.lpszUrlPath, parts.dwUrlPathLength);
  path.append(parts.lpszExtraInfo, parts.dwExtraInfoLength);
  if (path.empty()) path = L"/";

  // The user's proxy settings (automatic where the system has it).
  session_ = WinHttpOpen(L"Kel", WINHTTP_ACCESS_TYPE_AUTOMATIC_PROXY, WINHTTP_NO_PROXY_NAME,
                         WINHTTP_NO_PROXY_BYPASS, WINHTTP_FLAG_ASYNC);
  if (!session_)
    session_ = WinHttpOpen(L"Kel", WINHTTP_ACCESS_TYPE_DEFAULT_PROXY, WINHTTP_NO_PROXY_NAME,
                           WINHTTP_NO_PROXY_BYPASS, WINHTTP_FLAG_ASYNC);
  if (!session_) return failedCall(), reply_;
  connect_ = WinHttpConnect(session_, host.c_str(), parts.nPort, 0);
  if (!connect_) return failedCall(), reply_;
  const bool secure = parts.nScheme == INTERNET_SCHEME_HTTPS;
  request_ = WinHttpOpenRequest(connect_, L"POST", path.c_str(), nullptr, WINHTTP_NO_REFERER,
                                WINHTTP_DEFAULT_ACCEPT_TYPES, secure ? WINHTTP_FLAG_SECURE : 0);
  if (!request_) return failedCall(), reply_;
  DWORD_PTR context = reinterpret_cast<DWORD_PTR>(call_);
  WinHttpSetOption(request_, WINHTTP_OPTION_CONTEXT_VALUE, &context, sizeof context);
  if (WinHttpSetStatusCallback(request_, onStatus,
                               WINHTTP_CALLBACK_FLAG_ALL_COMPLETIONS | WINHTTP_CALLBACK_FLAG_HANDLES,
                               0) == WINHTTP_INVALID_STATUS_CALLBACK)
    return failedCall(), reply_;
  DWORD noRedirect = WINHTTP_DISABLE_REDIRECTS;
  WinHttpSetOption(request_, WINHTTP_OPTION_DISABLE_FEATURE, &noRedirect, sizeof noRedirect);

  static const wchar_t headers[] = L"Content-Type: application/x-www-form-urlencoded\r\nAccept: application/json\r\n";
  const DWORD size = static_cast<DWORD>(form.size());
  if (!step(WinHttpSendRequest(request_, headers, static_cast<DWORD>(-1), const_cast<char*>(form.data()), size,
                               size, context)))
    return reply_;
  if (!step(WinHttpReceiveResponse(request_, nullptr))) return reply_;
  DWORD status = 0, statusSize = sizeof status;
  if (!WinHttpQueryHeaders(request_, WINHTTP_QUERY_STATUS_CODE | WINHTTP_QUERY_FLAG_NUMBER,
                           WINHTTP_HEADER_NAME_BY_INDEX, &status, &statusSize, WINHTTP_NO_HEADER_INDEX))
    return failedCall(), reply_;
  std::string body;
  for (;;) {
    if (!step(WinHttpQueryDataAvailable(request_, nullptr))) return reply_;
    if (call_->count == 0) break;
    DWORD want = call_->count < sizeof call_->buffer ? call_->count : sizeof call_->buffer;
    if (!step(WinHttpReadData(request_, call_->buffer, want, nullptr))) return reply_;
    if (call_->count == 0) break;
    if (body.size() + call_->count > maxBytes) return fail(HttpFailure::kTooLarge, 0), reply_;
    body.append(call_->buffer, call_->count);
  }
  reply_.status = static_cast<int>(status);
  reply_.body.swap(body);
  return reply_;
}

}  // namespace

HttpReply httpPostForm(const char* url, const std::string& form, const std::atomic<bool>* cancel, int timeoutMs,
                       size_t maxReplyBytes) {
  if (!httpUrlAllowed(url)) {
    HttpReply reply;
    reply.failure = HttpFailure::kUrlRefused;
    reply.reason = "URL refused";
    return reply;
  }
  Request request(cancel, timeoutMs);
  return request.run(url, form, maxReplyBytes);
}

}  // namespace platform
