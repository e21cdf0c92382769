// A browser in miniature for the tests: a program of its own that, like a browser started
// afresh, takes its proxy from the user's Internet Settings, fetches one page and prints its
// body to standard output.
//   ip_check_client URL

#include <windows.h>
#include <wininet.h>

#include <cstdio>
#include <fcntl.h>
#include <io.h>

int main(int argc, char** argv)
{
    if (argc != 2)
        return 2;
    const HINTERNET internet =
        InternetOpenA("ip_check_client", INTERNET_OPEN_TYPE_PRECONFIG, nullptr, nullptr, 0);
    const HINTERNET page =
        internet ? InternetOpenUrlA(internet, argv[1], nullptr, 0,
                                    INTERNET_FLAG_RELOAD | INTERNET_FLAG_NO_CACHE_WRITE, 0)
                 : nullptr;
    if (!page)
        return 1;
    _setmode(_fileno(stdout), _O_BINARY);
    char buffer[1024];
    DWORD count = 0;
    while (InternetReadFile(page, buffer, sizeof buffer, &count) && count > 0)
        fwrite(buffer, 1, count, stdout);
    InternetCloseHandle(page);
    InternetCloseHandle(internet);
    return 0;
}
