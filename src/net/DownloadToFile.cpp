#include "net/DownloadToFile.h"

#include "core/ServiceUrl.h"
#include "net/InternetSession.h"

namespace {

void WriteAll(HANDLE file, const char* data, DWORD count)
{
    DWORD written = 0;
    if (!WriteFile(file, data, count, &written, nullptr))
        throw EInOutError(GetLastError());
    if (written != count)
        throw EInOutError(ERROR_DISK_FULL);
}

// Copies the answer of `connection` (null: none came) into `file`: every count read is written,
// and a failed read counts as the end of the data. How the transfer went.
TransferReport CopyBody(HINTERNET connection, HANDLE file)
{
    TransferReport transfer;
    transfer.connected = connection != nullptr;
    transfer.whole = transfer.connected;
    DWORD statusSize = sizeof transfer.status;
    if (connection)
        HttpQueryInfoA(connection, HTTP_QUERY_STATUS_CODE | HTTP_QUERY_FLAG_NUMBER, &transfer.status, &statusSize,
                       nullptr);
    char buffer[1024];
    DWORD count = 0;
    do { // the loop ends only on a read of 0 bytes
        count = 0;
        if (connection && !InternetReadFile(connection, buffer, sizeof buffer, &count)) {
            count = 0;
            transfer.whole = false;
        }
        WriteAll(file, buffer, count);
    } while (count != 0);
    return transfer;
}

} // namespace

bool DownloadToFile(const std::string& url, const std::string& path, const RequestWay& way, TransferReport* report)
{
    // Released in reverse order on every path: the URL handle first, then the internet handle.
    const UniqueHInternet internet = OpenInternetSession(way, ExecutableFileName());

    const UrlCredentials request = SplitUrlCredentials(url);
    std::string headers;
    if (request.hasUserInfo)
        headers = "Authorization: " + BasicAuthorization(request.user, request.password) + "\r\n";
    const UniqueHInternet connection(
        internet ? InternetOpenUrlA(internet.get(), request.url.c_str(),
                                    headers.empty() ? nullptr : headers.c_str(),
                                    static_cast<DWORD>(headers.size()), 0, 0)
                 : nullptr);

    UniqueFile file(CreateFileA(path.c_str(), GENERIC_WRITE, FILE_SHARE_READ, nullptr,
                                CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr));
    if (!file)
        throw EInOutError(GetLastError());

    TransferReport transfer = CopyBody(connection.get(), file.get());
    if (report)
        *report = transfer;
    if (!CloseHandle(file.release()))
        throw EInOutError(GetLastError());
    return true;
}
