#pragma once

#include <QDBusConnection>
#include <QObject>

#include <functional>
#include <memory>

namespace brindle {

class ActivateMethod;

/// The panel's side of the activation exchange on the session bus: queues for the shared bus
/// name, answers the method once `activate` has run, and runs `surface` when the host broadcasts
/// that the panel should come forward. Without a session bus it does nothing. Leaves the bus
/// when destroyed.
class SavePanelActivationService : public QObject {
    Q_OBJECT

public:
    SavePanelActivationService(std::function<void()> activate, std::function<void()> surface);
    ~SavePanelActivationService() override;

    SavePanelActivationService(const SavePanelActivationService&) = delete;
    SavePanelActivationService& operator=(const SavePanelActivationService&) = delete;

private slots:
    void activationRequested();

private:
    friend class ActivateMethod;

    QDBusConnection bus_;
    std::function<void()> activate_;
    std::function<void()> surface_;
    std::unique_ptr<ActivateMethod> method_;
    bool listening_ = false;
};

} // namespace brindle
