#pragma once

#include <QByteArray>
#include <QList>
#include <QPair>
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
        QList<QPair<QByteArray, QByteArray>> headers;
        QByteArray body;

        bool hasHeader(const QByteArray &name) const;
        QByteArray header(const QByteArray &name) const;  // case-insensitive; empty when absent
    };

    struct Reply {
        enum class Delivery {
            complete,    // the whole body with its Content-Length
            dropMidway,  // announces the whole body, sends half of it and closes the connection
            stall,       // sends the body, then a space every few milliseconds until the client leaves (5 s at most)
        };

        int status = 200;
        QByteArray body;
        // With a parameter, so that the server never compresses: a compressed stream would hold
        // back the bytes of a stalled reply.
        QByteArray contentType = "application/json; charset=utf-8";
        QList<QPair<QByteArray, QByteArray>> headers;
        std::chrono::milliseconds delay{0};  // before the status line
        Delivery delivery = Delivery::complete;

        static Reply json(int status, const QByteArray &body) { return {status, body}; }
        static Reply redirect(const QUrl &location)
        {
            return {302, {}, "text/plain", {{"Location", location.toEncoded()}}};
        }
    };

    ScriptedServer();
    ~ScriptedServer();

    // http://127.0.0.1:<port>
    QUrl url() const;
    void enqueue(const Reply &reply);

    QList<Request> requests() const;
    // Waits until a stalled reply saw its client close the connection.
    bool waitForClientToLeave(std::chrono::milliseconds timeout) const;

private:
    struct State;
    std::unique_ptr<State> m_state;
};

// A loopback port on which nothing listens.
quint16 closedLoopbackPort();
