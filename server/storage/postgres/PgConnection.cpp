#include "PgConnection.h"

#include <cerrno>
#include <libpq-fe.h>
#include <poll.h>

namespace {

QByteArray quotedElement(const QString &text)
{
    QByteArray quoted = "\"";
    for (const char c : text.toUtf8()) {
        if (c == '\0')
            continue;  // PostgreSQL text cannot hold it
        if (c == '"' || c == '\\')
            quoted += '\\';
        quoted += c;
    }
    return quoted + '"';
}

std::string trimmed(const char *message)
{
    return QByteArray(message ? message : "").trimmed().toStdString();
}

}  // namespace

PgResult::PgResult(pg_result *result) : m_result(result, PQclear) {}

int PgResult::rows() const
{
    return m_result ? PQntuples(m_result.get()) : 0;
}

bool PgResult::isNull(int row, int column) const
{
    return PQgetisnull(m_result.get(), row, column) != 0;
}

qint64 PgResult::integer(int row, int column) const
{
    return QByteArray(PQgetvalue(m_result.get(), row, column)).toLongLong();
}

QString PgResult::text(int row, int column) const
{
    return QString::fromUtf8(PQgetvalue(m_result.get(), row, column), PQgetlength(m_result.get(), row, column));
}

QByteArray PgResult::bytes(int row, int column) const
{
    // bytea in text form: \x and the hex digits.
    const QByteArray text(PQgetvalue(m_result.get(), row, column), PQgetlength(m_result.get(), row, column));
    return QByteArray::fromHex(text.mid(2));
}

qint64 PgResult::changed() const
{
    return m_result ? QByteArray(PQcmdTuples(m_result.get())).toLongLong() : 0;
}

PgParams &PgParams::add(qint64 value)
{
    m_values.push_back(QByteArray::number(value));
    return *this;
}

PgParams &PgParams::add(const QString &text)
{
    QByteArray bytes = text.toUtf8();
    bytes.replace('\0', QByteArray());
    m_values.push_back(bytes);
    return *this;
}

PgParams &PgParams::addBytes(const QByteArray &bytes)
{
    m_values.push_back("\\x" + bytes.toHex());
    return *this;
}

PgParams &PgParams::add(const std::vector<qint64> &values)
{
    QByteArray array = "{";
    for (size_t i = 0; i < values.size(); ++i) {
        if (i)
            array += ',';
        array += QByteArray::number(values[i]);
    }
    m_values.push_back(array + '}');
    return *this;
}

PgParams &PgParams::add(const std::vector<QString> &texts)
{
    QByteArray array = "{";
    for (size_t i = 0; i < texts.size(); ++i) {
        if (i)
            array += ',';
        array += quotedElement(texts[i]);
    }
    m_values.push_back(array + '}');
    return *this;
}

PgParams &PgParams::addHex(const std::vector<QByteArray> &values)
{
    QByteArray array = "{";
    for (size_t i = 0; i < values.size(); ++i) {
        if (i)
            array += ',';
        array += values[i].isEmpty() ? QByteArray("\"\"") : values[i].toHex();
    }
    m_values.push_back(array + '}');
    return *this;
}

PgConnection::PgConnection(const QString &connection)
{
    m_conn = PQconnectdb(connection.toUtf8().constData());
    if (!m_conn)
        throw StorageError("out of memory");
    if (PQstatus(m_conn) != CONNECTION_OK) {
        const std::string reason = trimmed(PQerrorMessage(m_conn));
        PQfinish(m_conn);
        m_conn = nullptr;
        throw StorageError(reason);
    }
    // Notices ("there is no transaction in progress" and the like) are not for stderr.
    PQsetNoticeProcessor(
        m_conn, [](void *, const char *) {}, nullptr);
}

PgConnection::~PgConnection()
{
    PQfinish(m_conn);
}

bool PgConnection::broken() const
{
    return PQstatus(m_conn) != CONNECTION_OK;
}

QString PgConnection::description() const
{
    const QString host = QString::fromUtf8(PQhost(m_conn));
    return QStringLiteral("database %1 on %2")
        .arg(QString::fromUtf8(PQdb(m_conn)), host.startsWith(u'/') ? QStringLiteral("the socket in ") + host : host);
}

void PgConnection::fail(pg_result *result)
{
    const PgResult owned(result);
    const char *state = result ? PQresultErrorField(result, PG_DIAG_SQLSTATE) : nullptr;
    const char *message = result ? PQresultErrorField(result, PG_DIAG_MESSAGE_PRIMARY) : nullptr;
    throw PgError(trimmed(message ? message : PQerrorMessage(m_conn)), QByteArray(state ? state : ""));
}

bool PgConnection::idle() const
{
    return PQtransactionStatus(m_conn) == PQTRANS_IDLE;
}

void PgConnection::execute(const char *sql)
{
    pg_result *result = PQexec(m_conn, sql);
    if (!result || PQresultStatus(result) != PGRES_COMMAND_OK)
        fail(result);
    PQclear(result);
}

PgResult PgConnection::exec(const char *sql, const PgParams &params)
{
    std::vector<const char *> values;
    for (const QByteArray &value : params.values())
        values.push_back(value.constData());
    pg_result *result = PQexecParams(m_conn, sql, int(values.size()), nullptr, values.data(), nullptr, nullptr, 0);
    const ExecStatusType status = PQresultStatus(result);
    if (!result || (status != PGRES_COMMAND_OK && status != PGRES_TUPLES_OK))
        fail(result);
    return PgResult(result);
}

// Sends what libpq holds while taking in what the server already answers, so that neither
// side waits for the other to read when a pipeline carries a lot both ways.
void PgConnection::flushAll()
{
    for (;;) {
        const int pending = PQflush(m_conn);
        if (pending == 0)
            return;
        if (pending < 0)
            fail(nullptr);
        pollfd socket{PQsocket(m_conn), POLLIN | POLLOUT, 0};
        if (::poll(&socket, 1, -1) < 0 && errno != EINTR)
            fail(nullptr);
        if ((socket.revents & POLLIN) && !PQconsumeInput(m_conn))
            fail(nullptr);
    }
}

std::vector<PgResult> PgConnection::pipeline(const std::vector<PgStatement> &statements)
{
    if (PQenterPipelineMode(m_conn) != 1)
        fail(nullptr);
    PQsetnonblocking(m_conn, 1);
    bool sent = true;
    for (const auto &statement : statements) {
        std::vector<const char *> values;
        for (const QByteArray &value : statement.params.values())
            values.push_back(value.constData());
        if (!PQsendQueryParams(m_conn, statement.sql, int(values.size()), nullptr, values.data(), nullptr, nullptr,
                               0)) {
            sent = false;
            break;
        }
    }
    sent = sent && PQpipelineSync(m_conn) == 1;
    if (sent)
        flushAll();
    PQsetnonblocking(m_conn, 0);
    if (!sent)
        fail(nullptr);

    // Each statement's result is followed by a null; the sync point ends the pipeline.
    std::vector<PgResult> results(statements.size());
    pg_result *error = nullptr;
    size_t index = 0;
    for (;;) {
        pg_result *result = PQgetResult(m_conn);
        if (!result) {
            if (broken() || ++index > statements.size())
                break;
            continue;
        }
        const ExecStatusType status = PQresultStatus(result);
        if (status == PGRES_PIPELINE_SYNC) {
            PQclear(result);
            break;
        }
        if (status == PGRES_COMMAND_OK || status == PGRES_TUPLES_OK) {
            if (index < results.size())
                results[index] = PgResult(result);
            else
                PQclear(result);
        } else if (status == PGRES_PIPELINE_ABORTED || error) {
            PQclear(result);
        } else {
            error = result;
        }
    }
    PQexitPipelineMode(m_conn);
    if (error || broken())
        fail(error);
    return results;
}

void PgConnection::rollback()
{
    if (broken())
        return;
    if (PQpipelineStatus(m_conn) != PQ_PIPELINE_OFF) {
        while (pg_result *result = PQgetResult(m_conn))
            PQclear(result);
        PQexitPipelineMode(m_conn);
    }
    PQclear(PQexec(m_conn, "ROLLBACK"));
}
