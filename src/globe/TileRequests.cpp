// Every request of this program's network access managers asks for its reply as it is, not
// compressed ("Accept-Encoding: identity"), and follows no redirect by itself.
//
// Unless a request names the encodings it takes, Qt offers gzip and deflate and inflates the
// reply before anyone can look at it: a tile server's megabyte of compressed zeros becomes a
// gigabyte in memory before the tile guard (TileGuard.cpp) sees its first byte. The map library
// makes its requests itself and has no setting for their headers; it calls
// QNetworkAccessManager::get through its exported symbol, which the dynamic linker binds to the
// program's own definition when there is one: this one, which adds the header and hands on to
// Qt's. Linked whole into every program that uses the globe, like TileUserAgent.cpp.
#include <dlfcn.h>

#include <QNetworkAccessManager>
#include <QNetworkRequest>
#include <cstdio>
#include <cstdlib>

QNetworkReply* QNetworkAccessManager::get(const QNetworkRequest& request) {
    using Get = QNetworkReply* (*)(QNetworkAccessManager*, const QNetworkRequest&);
    static const Get qtGet = [] {
        void* found = ::dlsym(RTLD_NEXT, "_ZN21QNetworkAccessManager3getERK15QNetworkRequest");
        if (found == nullptr) {
            std::fprintf(stderr, "QNetworkAccessManager::get not found: %s\n", ::dlerror());
            std::abort();
        }
        return reinterpret_cast<Get>(found);
    }();
    QNetworkRequest plain(request);
    if (!plain.hasRawHeader("Accept-Encoding")) plain.setRawHeader("Accept-Encoding", "identity");
    plain.setAttribute(QNetworkRequest::RedirectPolicyAttribute,
                       QNetworkRequest::ManualRedirectPolicy);
    return qtGet(this, plain);
}
