// The download tests' HTTPS server (tests/bed/https_server.py, started by a ctest fixture), as
// the tests under Wine see it: its ports, the folder it serves files from and its request log.
#pragma once
#include <windows.h>

#include <string>

struct HttpsBed {
    int tlsPort = 0;     // HTTPS, faults chosen by the path's first segment
    int httpPort = 0;    // the same behaviours over plain HTTP
    int silentPort = 0;  // accepts connections and never answers
    std::wstring dir;    // BUILD\https

    // https://HOST:TLS_PORT/MODE/NAME
    std::wstring Url(const std::wstring& mode, const std::wstring& name, const std::wstring& host = L"127.0.0.1") const;
    // Every request the server has seen so far, one "tls|http METHOD PATH" line each.
    std::string RequestLog() const;
    // Ends the server's hold on the connections of a held mode for NAME (silent, stall), or on
    // the silent port's connections for the name "silent-port"; Unrelease allows holding again.
    bool Release(const std::wstring& name) const;
    void Unrelease(const std::wstring& name) const;
};

// Finds the running server from BUILD\https\server.txt (BUILD being the folder above the test
// program's bin\). False when no server is running.
bool FindHttpsBed(HttpsBed* bed);

// A file the server serves under a name unique to this process; removed when it goes.
class ServedFile {
public:
    ServedFile(const HttpsBed& bed, const std::string& bytes);
    ~ServedFile();
    ServedFile(const ServedFile&) = delete;
    ServedFile& operator=(const ServedFile&) = delete;
    const std::wstring& Name() const { return name_; }
    bool Ok() const { return ok_; }

private:
    std::wstring path_;
    std::wstring name_;
    bool ok_ = false;
};
