#include "TokenCommand.h"

#include "Instant.h"
#include "Tokens.h"

namespace {

constexpr int shownDigits = 12;

QString hexOf(const QByteArray &hash)
{
    return QString::fromLatin1(hash.toHex());
}

// The one account whose token's hash starts with `prefix`; otherwise says why not.
std::optional<AccountRecord> accountOf(Storage &storage, const QString &prefix, CommandOutput &output)
{
    QList<AccountRecord> matches;
    for (const auto &account : storage.accounts()) {
        if (hexOf(account.tokenHash).startsWith(prefix))
            matches.append(account);
    }
    if (matches.size() == 1)
        return matches.first();
    output.status = 1;
    output.err = matches.isEmpty()
        ? QStringLiteral("orvela-server: no token's hash starts with %1\n").arg(prefix)
        : QStringLiteral("orvela-server: %1 tokens' hashes start with %2; give more digits\n")
              .arg(matches.size())
              .arg(prefix);
    return std::nullopt;
}

}  // namespace

CommandOutput runTokenCommand(const CommandLine::Token &command, Storage &storage, qint64 now)
{
    using Action = CommandLine::Token::Action;
    CommandOutput output;
    switch (command.action) {
    case Action::create: {
        const QString token = Tokens::generate();
        storage.addAccount(Tokens::hash(token), now);
        output.out = token + u'\n';
        output.err = QStringLiteral("This token is shown only once: give it to the app as ORVELA_SYNC_TOKEN.\n");
        break;
    }
    case Action::list: {
        const auto accounts = storage.accounts();
        if (accounts.isEmpty())
            output.err = QStringLiteral("No tokens yet: 'orvela-server token create' makes one.\n");
        for (const auto &account : accounts) {
            output.out += hexOf(account.tokenHash).left(shownDigits) + QStringLiteral("  created ") +
                Instant::fromUnixSeconds(double(account.createdAt)).toIso8601() + u'\n';
        }
        break;
    }
    case Action::revoke: {
        const auto account = accountOf(storage, command.prefix, output);
        if (!account)
            break;
        storage.removeAccount(account->tokenHash);
        output.out = QStringLiteral("Revoked %1: its account state is deleted, and its websites' figures are deleted "
                                    "and shown to nobody again.\n")
                         .arg(hexOf(account->tokenHash).left(shownDigits));
        break;
    }
    case Action::rotate: {
        const auto account = accountOf(storage, command.prefix, output);
        if (!account)
            break;
        const QString old = hexOf(account->tokenHash).left(shownDigits);
        const QString token = Tokens::generate();
        if (!storage.replaceToken(account->tokenHash, Tokens::hash(token))) {
            output.err = QStringLiteral("orvela-server: the token %1 was revoked meanwhile\n").arg(old);
            output.status = 1;
            break;
        }
        output.out = token + u'\n';
        output.err = QStringLiteral("Token %1 no longer works. The account, its websites and figures stay with this "
                                    "new token, shown only once: give it to the app as ORVELA_SYNC_TOKEN.\n")
                         .arg(old);
        break;
    }
    }
    return output;
}
