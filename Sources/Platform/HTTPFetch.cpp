#include "Platform/DesktopServices.h"

#include "CurlLibrary.h"
#include "Platform/Processes.h"

#include <algorithm>
#include <memory>

namespace brindle::platform {
namespace {

using Clock = std::chrono::steady_clock;
using std::chrono::milliseconds;

struct Transfer {
    std::string body;
    std::size_t limit = 0;
    bool overLimit = false;
    Clock::time_point lastProgress;
};

std::size_t receiveBody(char* data, std::size_t size, std::size_t count, void* context) {
    Transfer& transfer = *static_cast<Transfer*>(context);
    const std::size_t length = size * count;
    transfer.lastProgress = Clock::now();
    if (length > transfer.limit - transfer.body.size()) {
        transfer.overLimit = true;
        return 0; // anything but `length` stops the transfer
    }
    transfer.body.append(data, length);
    return length;
}

std::size_t receiveHeader(char*, std::size_t size, std::size_t count, void* context) {
    static_cast<Transfer*>(context)->lastProgress = Clock::now();
    return size * count;
}

struct EasyRelease {
    void operator()(CURL* handle) const { curlLibrary()->easyCleanup(handle); }
};
struct MultiRelease {
    void operator()(CURLM* handle) const { curlLibrary()->multiCleanup(handle); }
};
struct ListRelease {
    void operator()(curl_slist* list) const { curlLibrary()->listFree(list); }
};

// The easy handle belongs to the multi handle while this lives.
class Attachment {
public:
    Attachment(CURLM* multi, CURL* easy)
        : multi_(multi), easy_(easy),
          attached_(curlLibrary()->multiAddHandle(multi, easy) == CURLM_OK) {}
    ~Attachment() {
        if (attached_)
            curlLibrary()->multiRemoveHandle(multi_, easy_);
    }
    Attachment(const Attachment&) = delete;
    Attachment& operator=(const Attachment&) = delete;
    bool attached() const { return attached_; }

private:
    CURLM* multi_;
    CURL* easy_;
    bool attached_;
};

std::error_code reason(CURLcode code, const Transfer& transfer) {
    if (transfer.overLimit || code == CURLE_FILESIZE_EXCEEDED)
        return errnoCode(EFBIG);
    if (code == CURLE_UNSUPPORTED_PROTOCOL || code == CURLE_TOO_MANY_REDIRECTS)
        return errnoCode(EPROTO);
    return errnoCode(EIO);
}

// libcurl's own low-speed limit counts whole seconds and looks once a second; the transfer is
// driven here instead, so that both time-outs hold to the millisecond.
Result<CURLcode> perform(CURLM* multi, Transfer& transfer, const HTTPFetchLimits& limits) {
    const CurlLibrary& curl = *curlLibrary();
    const Clock::time_point start = Clock::now();
    transfer.lastProgress = start;
    for (int running = 1;;) {
        if (curl.multiPerform(multi, &running) != CURLM_OK)
            return errnoCode(EIO);
        if (running == 0)
            break;
        // A host asked to end stops waiting for the network at once; the caller's next wait for
        // a child or for input sees why.
        if (terminationRequested())
            return errnoCode(ECANCELED);
        const Clock::time_point now = Clock::now();
        const auto left = std::min(transfer.lastProgress + limits.stallTimeout - now,
                                   start + limits.totalTimeout - now);
        if (left <= Clock::duration::zero())
            return errnoCode(ETIMEDOUT);
        const auto wait = std::chrono::ceil<milliseconds>(left).count();
        curl_waitfd termination{terminationDescriptor().get(), CURL_WAIT_POLLIN, 0};
        curl.multiPoll(multi, termination.fd >= 0 ? &termination : nullptr,
                       termination.fd >= 0 ? 1 : 0,
                       static_cast<int>(std::min<long long>(wait, 1000)), nullptr);
    }
    CURLcode result = CURLE_OK;
    int queued = 0;
    while (const CURLMsg* message = curl.multiInfoRead(multi, &queued)) {
        if (message->msg == CURLMSG_DONE)
            result = message->data.result;
    }
    return result;
}

} // namespace

Result<HTTPResponse> fetchHTTP(const std::string& url, const std::vector<std::string>& headers,
                               const HTTPFetchLimits& limits) {
    const CurlLibrary* curl = curlLibrary();
    if (curl == nullptr)
        return errnoCode(ENOSYS);
    const std::unique_ptr<CURL, EasyRelease> easy(curl->easyInit());
    const std::unique_ptr<CURLM, MultiRelease> multi(curl->multiInit());
    std::unique_ptr<curl_slist, ListRelease> headerList;
    if (!easy || !multi)
        return errnoCode(ENOMEM);
    for (const std::string& header : headers) {
        curl_slist* list = curl->listAppend(headerList.get(), header.c_str());
        if (list == nullptr)
            return errnoCode(ENOMEM);
        (void)headerList.release(); // the same list, one entry longer
        headerList.reset(list);
    }

    Transfer transfer;
    transfer.limit = limits.maximumBodyBytes;
    CURL* handle = easy.get();
    const auto set = [&](CURLoption option, auto value) {
        return curl->easySetOption(handle, option, value) == CURLE_OK;
    };
    const curl_write_callback bodyReceiver = receiveBody;
    const curl_write_callback headerReceiver = receiveHeader;
    const bool configured =
        set(CURLOPT_URL, url.c_str()) && set(CURLOPT_NOSIGNAL, 1L) &&
        set(CURLOPT_PROTOCOLS_STR, "http,https") &&
        set(CURLOPT_REDIR_PROTOCOLS_STR, "http,https") && set(CURLOPT_FOLLOWLOCATION, 1L) &&
        set(CURLOPT_MAXREDIRS, 16L) && set(CURLOPT_HTTPHEADER, headerList.get()) &&
        set(CURLOPT_WRITEFUNCTION, bodyReceiver) && set(CURLOPT_WRITEDATA, &transfer) &&
        set(CURLOPT_HEADERFUNCTION, headerReceiver) && set(CURLOPT_HEADERDATA, &transfer) &&
        set(CURLOPT_MAXFILESIZE_LARGE, static_cast<curl_off_t>(limits.maximumBodyBytes));
    if (!configured)
        return errnoCode(EIO);

    const Attachment attachment(multi.get(), handle);
    if (!attachment.attached())
        return errnoCode(ENOMEM);
    const Result<CURLcode> code = perform(multi.get(), transfer, limits);
    if (!code)
        return code.error();
    if (*code != CURLE_OK)
        return reason(*code, transfer);
    long status = 0;
    curl->easyGetInfo(handle, CURLINFO_RESPONSE_CODE, &status);
    if (status < 200 || status > 299)
        return errnoCode(EPROTO);
    const char* finalURL = nullptr;
    if (curl->easyGetInfo(handle, CURLINFO_EFFECTIVE_URL, &finalURL) != CURLE_OK ||
        finalURL == nullptr)
        return errnoCode(EIO);
    return HTTPResponse{std::move(transfer.body), finalURL};
}

} // namespace brindle::platform
