// monitor's web configuration as files an administrator writes, with bcrypt hashes made here: the
// logins they let in, each class of fault named, the last good file kept; the login throttle.
#include "harness.h"
#include "login_throttle.h"
#include "web_config.h"

#include <crypt.h>

using std::chrono::milliseconds;

namespace {

// A file giving `user` a bcrypt hash of `password` under `prefix` ("$2b$" ...), at the lowest cost.
QString users(const char* user, const char* password, const char* prefix = "$2b$")
{
    return QStringLiteral("basic_auth_users:\n  %1: '%2'\n")
        .arg(user, crypt(password, crypt_gensalt(prefix, 4, nullptr, 0)));
}

} // namespace

class Tst_web_config : public QObject
{
    Q_OBJECT

    QTemporaryDir dir;
    int writes = 0;

    // Each write a second later than the last, so that its time tells it from the one before.
    void write(const QString& text, const QString& name = "web.yml")
    {
        QFile out(dir.filePath(name));
        QVERIFY(out.open(QIODevice::WriteOnly | QIODevice::Truncate));
        QVERIFY(out.write(text.toUtf8()) == text.toUtf8().size() && out.flush()); // before the time is set
        QVERIFY(out.setFileTime(QDateTime::currentDateTime().addSecs(++writes), QFileDevice::FileModificationTime));
    }

private slots:

    void files_data()
    {
        QTest::addColumn<QString>("text");
        QTest::addColumn<bool>("good");     // alice's login with "secret"
        QTest::addColumn<QString>("fault"); // empty for a good file
        const QString tls = "tls_server_config:\n  cert_file: cert.pem\n";
        write("CERT", "cert.pem"), write("KEY", "key.pem");
        QTest::newRow("good password") << users("alice", "secret") << true << "";
        QTest::newRow("$2y$, as htpasswd writes it") << users("alice", "secret", "$2y$") << true << "";
        QTest::newRow("wrong password") << users("alice", "Secret") << false << "";
        QTest::newRow("unknown user, another's password") << users("bob", "secret") << false << "";
        QTest::newRow("TLS files beside the file") << tls + "  key_file: key.pem\n" << false << "";
        QTest::newRow("bad YAML") << "basic_auth_users: {alice: [\n" << false << "not YAML: line 2";
        QTest::newRow("unknown key") << "basic_auth_user: {}" << false << "unknown key basic_auth_user";
        QTest::newRow("not a bcrypt hash")
            << "basic_auth_users: {alice: $6$salt$hash}" << false << "alice is not a bcrypt";
        QTest::newRow("cert without key") << tls << false << "cert_file without key_file";
    }

    // Read again over alice's "old": a good file replaces it, a bad one is named and leaves it in
    // force (read first, no login). A good login passes again, remembered, not with another password.
    void files()
    {
        QFETCH(QString, text);
        QFETCH(bool, good);
        QFETCH(QString, fault);
        const QString file = dir.filePath("web.yml");
        write(users("alice", "old"));
        Web_config config(file);
        write(text);
        QVERIFY(config.reload_if_changed() && !config.reload_if_changed());
        const QString said = config.fault(), kept = "; the last good configuration stays in force";
        QVERIFY2(fault.isEmpty() ? said.isEmpty()
                                 : said.startsWith(file + ": ") && said.contains(fault) && said.endsWith(kept),
                 qPrintable(said));
        QCOMPARE(Web_config(file).loaded(), fault.isEmpty());
        QCOMPARE(QList<bool>({config.check("alice", "secret"), config.check("alice", "secret"),
                              config.check("alice", "secret!"), config.check("alice", "old")}),
                 QList<bool>({good, good, false, !fault.isEmpty()}));
    }

    void throttle_data()
    {
        QTest::addColumn<QString>("logins"); // f failed, s succeeded, w 5 s pass; each after any wait
        QTest::addColumn<int>("wait");       // then, and none for another address
        QTest::newRow("the third within 10 s refused") << "fff" << 1000;
        QTest::newRow("each further doubles it") << "fffff" << 4000;
        QTest::newRow("up to 4 s") << "ffffff" << 4000;
        QTest::newRow("a good login clears them") << "fffsf" << 0;
        QTest::newRow("failures spread wider than 10 s") << "fwfwfwf" << 0;
    }

    void throttle()
    {
        QFETCH(QString, logins);
        QFETCH(int, wait);
        milliseconds now(1000000);
        Login_throttle throttle({3, milliseconds(10000), milliseconds(1000), milliseconds(4000)}, [&] { return now; });
        for (const QChar login : logins) {
            now += login == 'w' ? milliseconds(5001) : throttle.wait("192.0.2.1");
            if (login != 'w')
                login == 'f' ? throttle.failed("192.0.2.1") : throttle.succeeded("192.0.2.1");
        }
        QCOMPARE(throttle.wait("192.0.2.1"), milliseconds(wait));
        QCOMPARE(throttle.wait("192.0.2.2"), milliseconds(0));
    }
};

TAVOLINK_TEST(Tst_web_config)
#include "tst_web_config.moc"
