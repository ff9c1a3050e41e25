#pragma once

#include <QObject>
#include <memory>
#include <stop_token>

// The handle of one background task: cancelling it requests a stop that the task observes at
// its checkpoints and that aborts a pending transfer. Handles compare by identity.
class TaskHandle : public QObject
{
    Q_OBJECT
public:
    void cancel() { m_source.request_stop(); }
    bool isCancelled() const { return m_source.stop_requested(); }
    std::stop_token token() const { return m_source.get_token(); }

    bool isFinished() const { return m_finished; }
    void markFinished()
    {
        m_finished = true;
        emit finished();
    }

signals:
    void finished();

private:
    std::stop_source m_source;
    bool m_finished = false;
};

using TaskRef = std::shared_ptr<TaskHandle>;
