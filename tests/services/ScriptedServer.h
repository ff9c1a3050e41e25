#pragma once

#include <QByteArray>
#include <QMap>
#include <QString>
#include <QUrl>
#include <QUrlQuery>
#include <chrono>
#include <memory>

// A real HTTP server on 127.0.0.1 for tests of network clients. It runs on threads of its
// own, records every request and answers each from the next scripted reply, in order.
class ScriptedServer
{
public:
    struct Request {
        QByteArray method;
        QString path;
        QUrlQuery query;
        QMap<QByteArray, QByteArray> headers;  // names in lower case
        QByteArray body;

        QByteArray header(const QByteArray &name) const { return headers.value(name.toLower()); }
    };

    enum class Delivery {
        complete,    // the whole body with its Content-Length
        dropMidway,  // announces the whole body, sends half of it and closes the connection
        stall,       // chunked: the body, then a space every 10 ms until the client leaves (5 s at most)
    };

    struct Reply {
        int status = 200;
        QByteArray body;
        std::chrono::milliseconds delay{0};  // before the status line
        Delivery delivery = Delivery::complete;
        QUrl location;  // sent as Location when set

        static Reply json(int status, const QByteArray &body) { return {status, body}; }
        static Reply redirect(const QUrl &to) { return {302, {}, {}, Delivery::complete, to}; }
    };

    ScriptedServer();
    ~ScriptedServer();

    QUrl url() const;  // http://127.0.0.1:<port>
    void enqueue(const Reply &reply);
    QList<Request> requests() const;
    // Waits until a stalled reply saw its client close the connection; each such client counts once.
    bool waitForClientToLeave(std::chrono::milliseconds timeout) const;

private:
    struct State;
    std::unique_ptr<State> m_state;
};
