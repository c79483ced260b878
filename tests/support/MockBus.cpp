#include "MockBus.h"

#include <QDBusArgument>
#include <QDBusConnectionInterface>
#include <QElapsedTimer>
#include <QThread>

MockBus::~MockBus()
{
    QDBusConnection::disconnectFromBus(m_dir.path());
    for (auto& mock : m_mocks) {
        mock->kill();
        mock->waitForFinished(5000);
    }
    m_bus.kill();
    m_bus.waitForFinished(5000);
}

QString MockBus::Start()
{
    m_bus.start("dbus-daemon", {"--session", "--address=unix:path=" + m_dir.filePath("bus.sock"),
                                "--nofork", "--print-address=1"});
    if (!m_dir.isValid() || !m_bus.waitForStarted(5000))
        return "dbus-daemon is missing";
    QElapsedTimer timer;
    timer.start();
    while (!m_bus.canReadLine() && timer.elapsed() < 10000)
        m_bus.waitForReadyRead(100);
    m_address = QString::fromUtf8(m_bus.readLine()).trimmed();
    m_env.Set("DBUS_SYSTEM_BUS_ADDRESS", m_address.toUtf8());
    m_env.Set("DBUS_SESSION_BUS_ADDRESS", m_address.toUtf8());
    return IsOurs() ? QString() : "the bus is not in the test's folder";
}

QString MockBus::StartTemplate(const QString& name, const QString& service,
                               const QString& parameters)
{
    QStringList args{"-m", "dbusmock", "--template", name};
    if (name == "logind")
        args << "--system";
    if (!parameters.isEmpty())
        args << "-p" << parameters;
    // /usr/bin/python3: the python3 first on PATH may lack dbusmock.
    m_mocks.push_back(std::make_unique<QProcess>());
    m_mocks.back()->start("/usr/bin/python3", args);
    QDBusConnection bus = Observer();
    const auto up = [&] { return bus.interface()->isServiceRegistered(service).value(); };
    QElapsedTimer timer;
    timer.start();
    while (!up() && timer.elapsed() < 20000)
        QThread::msleep(50);
    return up() ? QString() : "the mock " + name + " did not come up";
}

bool MockBus::IsOurs() const
{
    const QByteArray folder = "unix:path=" + m_dir.path().toUtf8() + '/';
    return qgetenv("DBUS_SYSTEM_BUS_ADDRESS").startsWith(folder) &&
           qgetenv("DBUS_SESSION_BUS_ADDRESS").startsWith(folder);
}

QDBusConnection MockBus::Observer() const
{
    // Named connections are cached per process: one name per mock bus.
    return QDBusConnection::connectToBus(m_address, m_dir.path());
}

QDBusMessage MockBus::Call(const QString& service, const QString& path, const QString& method,
                           const QVariantList& args, const QString& interface) const
{
    QDBusMessage call = QDBusMessage::createMethodCall(service, path, interface, method);
    call.setArguments(args);
    return Observer().call(call);
}

QList<QPair<QString, QVariantList>> MockBus::Calls(const QString& service,
                                                   const QString& path) const
{
    QList<QPair<QString, QVariantList>> calls;
    const QDBusMessage reply = Call(service, path, "GetCalls");
    if (reply.type() != QDBusMessage::ReplyMessage)
        return calls;
    const QDBusArgument list = reply.arguments().front().value<QDBusArgument>();
    list.beginArray();
    while (!list.atEnd()) {
        qulonglong stamp = 0;
        QString method;
        QVariantList args;
        list.beginStructure();
        list >> stamp >> method;
        list.beginArray();
        while (!list.atEnd()) {
            QDBusVariant value;
            list >> value;
            args << value.variant();
        }
        list.endArray();
        list.endStructure();
        calls.append({method, args});
    }
    list.endArray();
    return calls;
}
