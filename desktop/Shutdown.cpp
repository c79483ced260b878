#include "Shutdown.h"

#include "desktop/BusConnection.h"

#include <QDBusMessage>

namespace {

constexpr int CallTimeoutMs = 10000;

QDBusMessage CallManager(QDBusConnection& bus, const QString& method, const QVariantList& args)
{
    QDBusMessage call =
        QDBusMessage::createMethodCall(Login1::Service, Login1::Path, Login1::Manager, method);
    call.setArguments(args);
    return bus.call(call, QDBus::Block, CallTimeoutMs);
}

} // namespace

void ShutdownWindows(const ShutdownMessageBox& showMessage)
{
    const auto show = [&](const char* text) {
        if (showMessage)
            showMessage(QString::fromLatin1(text));
    };

    CBusConnection bus(CBusConnection::Bus::System);
    // Without a bus the later steps fail too and report in their turn, as the
    // privilege steps did after a failed token open.
    if (!bus.IsConnected())
        show("OpenProcessToken failed.");

    const QDBusMessage can = CallManager(bus.Get(), QStringLiteral("CanPowerOff"), {});
    if (can.type() != QDBusMessage::ReplyMessage || can.arguments().isEmpty() ||
        can.arguments().front().toString() != QLatin1String("yes")) {
        show("AdjustTokenPrivileges enable failed.");
        return;
    }

    const QDBusMessage off = CallManager(bus.Get(), QStringLiteral("PowerOff"), {QVariant(false)});
    if (off.type() != QDBusMessage::ReplyMessage)
        show("InitiateSystemShutdown failed.");
    // Dropping the privilege again ("AdjustTokenPrivileges disable failed.") has
    // no counterpart: logind keeps no per-process privilege state.
}
