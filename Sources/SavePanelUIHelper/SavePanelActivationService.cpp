#include "SavePanelUIHelper/SavePanelActivationService.h"

#include "SmartSaveUIBridge/SavePanelActivation.h"

#include <QCoreApplication>
#include <QDBusConnectionInterface>
#include <QDBusMessage>
#include <QDBusVirtualObject>
#include <QPointer>

namespace brindle {

namespace names = savePanelActivation;

namespace {

QString text(const char* value) {
    return QString::fromLatin1(value);
}

} // namespace

// Exported without an adaptor so that the names come from the shared header. The bus may call it
// on its own thread: the work and the answer happen on the main thread.
class ActivateMethod : public QDBusVirtualObject {
public:
    explicit ActivateMethod(SavePanelActivationService& service) : service_(&service) {}

    QString introspect(const QString& /*path*/) const override {
        return QStringLiteral(R"(<interface name="%1"><method name="%2"/></interface>)")
            .arg(text(names::interfaceName), text(names::activateMethod));
    }

    bool handleMessage(const QDBusMessage& message, const QDBusConnection& connection) override {
        if (message.type() != QDBusMessage::MethodCallMessage ||
            message.member() != text(names::activateMethod) ||
            (!message.interface().isEmpty() && message.interface() != text(names::interfaceName)))
            return false;
        QMetaObject::invokeMethod(
            QCoreApplication::instance(),
            [service = service_, message, connection] {
                if (service && service->activate_)
                    service->activate_();
                QDBusConnection(connection).send(message.createReply());
            },
            Qt::QueuedConnection);
        return true;
    }

private:
    QPointer<SavePanelActivationService> service_;
};

SavePanelActivationService::SavePanelActivationService(std::function<void()> activate,
                                                       std::function<void()> surface)
    : bus_(QDBusConnection::sessionBus()), activate_(std::move(activate)),
      surface_(std::move(surface)) {
    if (!bus_.isConnected() || bus_.interface() == nullptr)
        return;
    method_ = std::make_unique<ActivateMethod>(*this);
    bus_.registerVirtualObject(text(names::objectPath), method_.get());
    listening_ =
        bus_.connect(QString(), text(names::objectPath), text(names::interfaceName),
                     text(names::activationRequestedSignal), this, SLOT(activationRequested()));
    // Asked for without waiting for the bus's answer, which nothing here depends on: the window
    // need not wait for the round trip, and the request is on its way before the window is shown.
    // Queued behind a panel that owns the name, never taking it from one (no flags).
    bus_.interface()->asyncCall(QStringLiteral("RequestName"), text(names::busName), 0u);
}

SavePanelActivationService::~SavePanelActivationService() {
    if (!method_)
        return;
    bus_.interface()->unregisterService(text(names::busName));
    if (listening_)
        bus_.disconnect(QString(), text(names::objectPath), text(names::interfaceName),
                        text(names::activationRequestedSignal), this, SLOT(activationRequested()));
    bus_.unregisterObject(text(names::objectPath));
}

void SavePanelActivationService::activationRequested() {
    if (surface_)
        surface_();
}

} // namespace brindle
