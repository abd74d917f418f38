#pragma once

#include <QColor>
#include <QString>

namespace brindle {

/// What the window shows: one of the companion's states and the text it carries (the version,
/// the reason to repair, the message of a working or failed state).
struct ViewState {
    enum class Kind {
        connected,
        needsRepair,
        working,
        failed,
        checking,
        readyToInstall,
        disconnected
    };

    static ViewState connected(QString version) { return {Kind::connected, std::move(version)}; }
    static ViewState needsRepair(QString reason) { return {Kind::needsRepair, std::move(reason)}; }
    static ViewState working(QString message) { return {Kind::working, std::move(message)}; }
    static ViewState failed(QString message) { return {Kind::failed, std::move(message)}; }
    static ViewState checking() { return {Kind::checking, {}}; }
    static ViewState readyToInstall() { return {Kind::readyToInstall, {}}; }
    static ViewState disconnected() { return {Kind::disconnected, {}}; }

    Kind kind = Kind::checking;
    QString text;
    bool operator==(const ViewState&) const = default;
};

/// How a state looks: the symbol (its name, and the glyph drawn for it), the symbol's colour
/// role, the status title and detail, the primary button and whether "disconnect" is offered.
struct ViewPresentation {
    enum class Colour { green, orange, accent, red, secondary };

    QString symbol;
    QString glyph;
    Colour colour;
    QString title;
    QString detail;
    QString primaryTitle;
    bool primaryEnabled;
    bool disconnectVisible;
};

ViewPresentation presentation(const ViewState& state);

} // namespace brindle
