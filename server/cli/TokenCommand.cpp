#include "TokenCommand.h"

#include "Instant.h"
#include "Tokens.h"

namespace {

constexpr int shownDigits = 12;

QString hexOf(const QByteArray &hash)
{
    return QString::fromLatin1(hash.toHex());
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
        QList<AccountRecord> matches;
        for (const auto &account : storage.accounts()) {
            if (hexOf(account.tokenHash).startsWith(command.prefix))
                matches.append(account);
        }
        if (matches.isEmpty()) {
            output.err = QStringLiteral("orvela-server: no token's hash starts with %1\n").arg(command.prefix);
            output.status = 1;
        } else if (matches.size() > 1) {
            output.err = QStringLiteral("orvela-server: %1 tokens' hashes start with %2; give more digits\n")
                             .arg(matches.size())
                             .arg(command.prefix);
            output.status = 1;
        } else {
            storage.removeAccount(matches.first().tokenHash);
            output.out = QStringLiteral("Revoked %1; its account state is deleted.\n")
                             .arg(hexOf(matches.first().tokenHash).left(shownDigits));
        }
        break;
    }
    }
    return output;
}
