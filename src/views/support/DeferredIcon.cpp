#include "DeferredIcon.h"

#include <QIconEngine>
#include <QPainter>

#include <memory>
#include <optional>

namespace {

// Copies of the icon share the one made, so that it is made once however often it is copied.
struct DeferredState
{
    std::function<QIcon()> make;
    std::optional<QIcon> icon;
};

class DeferredIconEngine : public QIconEngine
{
public:
    explicit DeferredIconEngine(std::shared_ptr<DeferredState> state) : m_state(std::move(state)) {}

    void paint(QPainter *painter, const QRect &rect, QIcon::Mode mode, QIcon::State state) override
    {
        icon().paint(painter, rect, Qt::AlignCenter, mode, state);
    }

    QSize actualSize(const QSize &size, QIcon::Mode mode, QIcon::State state) override
    {
        return icon().actualSize(size, mode, state);
    }

    QPixmap pixmap(const QSize &size, QIcon::Mode mode, QIcon::State state) override
    {
        return icon().pixmap(size, 1.0, mode, state);
    }

    QList<QSize> availableSizes(QIcon::Mode mode, QIcon::State state) override
    {
        return icon().availableSizes(mode, state);
    }

    QString iconName() override { return icon().name(); }

    // Buttons ask while they are laid out, hidden ones included; the answer is known unmade.
    bool isNull() override { return false; }

    QIconEngine *clone() const override { return new DeferredIconEngine(m_state); }

    void virtual_hook(int id, void *data) override
    {
        if (id == ScaledPixmapHook) {
            // The size asked for is in device pixels; the icon takes it in logical ones.
            auto &argument = *static_cast<ScaledPixmapArgument *>(data);
            const QSize logical = (QSizeF(argument.size) / argument.scale).toSize();
            argument.pixmap = icon().pixmap(logical, argument.scale, argument.mode, argument.state);
            return;
        }
        QIconEngine::virtual_hook(id, data);
    }

private:
    QIcon &icon()
    {
        if (!m_state->icon)
            m_state->icon = m_state->make();
        return *m_state->icon;
    }

    std::shared_ptr<DeferredState> m_state;
};

} // namespace

QIcon deferredIcon(std::function<QIcon()> make)
{
    auto state = std::make_shared<DeferredState>();
    state->make = std::move(make);
    return QIcon(new DeferredIconEngine(std::move(state)));
}
