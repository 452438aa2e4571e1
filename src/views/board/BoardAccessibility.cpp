#include "BoardAccessibility.h"

#include "board/AccessibleCardList.h"
#include "support/RelativeLabel.h"

#include <QAbstractScrollArea>
#include <QAccessibleWidget>
#include <QHash>
#include <QPointer>

namespace {

/// One painted card, as the list it lives in sees it now.
class CardAccessible : public QAccessibleInterface
{
public:
    CardAccessible(AccessibleCardList *list, const QUuid &id)
        : m_list(list), m_area(list->cardArea()), m_id(id)
    {}

    bool isValid() const override { return m_area && index() >= 0; }
    QObject *object() const override { return nullptr; }
    QWindow *window() const override { return m_area ? m_area->window()->windowHandle() : nullptr; }
    QAccessibleInterface *parent() const override
    {
        return QAccessible::queryAccessibleInterface(m_area.data());
    }
    QAccessibleInterface *child(int) const override { return nullptr; }
    QAccessibleInterface *childAt(int, int) const override { return nullptr; }
    int childCount() const override { return 0; }
    int indexOfChild(const QAccessibleInterface *) const override { return -1; }
    QAccessible::Role role() const override { return QAccessible::ListItem; }

    QString text(QAccessible::Text kind) const override
    {
        const qsizetype at = index();
        if (at < 0)
            return {};
        const Thought &thought = m_list->thoughts()[at];
        switch (kind) {
        case QAccessible::Name:
            return thought.title;
        case QAccessible::Description:
            return BoardAccessibility::cardDescription(thought);
        case QAccessible::Help:
            return QStringLiteral("回车打开，Ctrl+回车推进，Ctrl+Shift+方向键移动，Delete 删除");
        default:
            return {};
        }
    }
    void setText(QAccessible::Text, const QString &) override {}

    QRect rect() const override
    {
        if (!isValid())
            return {};
        QWidget *viewport = m_area->viewport();
        const QRect card = m_list->cardRect(m_id).intersected(viewport->rect());
        return QRect(viewport->mapToGlobal(card.topLeft()), card.size());
    }

    QAccessible::State state() const override
    {
        QAccessible::State state;
        state.focusable = true;
        state.selectable = true;
        const bool current = m_area && m_list->currentCard() == m_id;
        state.focused = current && m_area->hasFocus();
        state.selected = current;
        state.invisible = rect().isEmpty();
        state.offscreen = state.invisible;
        return state;
    }

    qsizetype index() const
    {
        if (!m_area)
            return -1;
        const Board &cards = m_list->thoughts();
        for (qsizetype i = 0; i < cards.size(); ++i) {
            if (cards[i].id == m_id)
                return i;
        }
        return -1;
    }

private:
    // The list is used only while its widget lives: the interface may outlive both.
    AccessibleCardList *m_list;
    QPointer<QAbstractScrollArea> m_area;
    QUuid m_id;
};

/// A column's card list: a list whose items are its cards. The card interfaces are made when a
/// reader asks for them and kept per card id until the card leaves the list.
class CardListAccessible : public QAccessibleWidget
{
public:
    explicit CardListAccessible(AccessibleCardList *list)
        : QAccessibleWidget(list->cardArea(), QAccessible::List), m_list(list)
    {}

    ~CardListAccessible() override { forgetAll(); }

    int childCount() const override { return int(m_list->thoughts().size()); }

    QAccessibleInterface *child(int index) const override
    {
        const Board &cards = m_list->thoughts();
        if (index < 0 || index >= cards.size())
            return nullptr;
        return cardInterface(cards[index].id);
    }

    int indexOfChild(const QAccessibleInterface *child) const override
    {
        const auto *card = dynamic_cast<const CardAccessible *>(child);
        return card ? int(card->index()) : -1;
    }

    QAccessibleInterface *childAt(int x, int y) const override
    {
        const QPoint inViewport = m_list->cardArea()->viewport()->mapFromGlobal(QPoint(x, y));
        for (const Thought &thought : m_list->thoughts()) {
            if (m_list->cardRect(thought.id).contains(inViewport))
                return cardInterface(thought.id);
        }
        return nullptr;
    }

    QAccessibleInterface *focusChild() const override
    {
        if (!m_list->cardArea()->hasFocus() || !m_list->currentCard())
            return nullptr;
        return cardInterface(*m_list->currentCard());
    }

    QAccessibleInterface *cardInterface(const QUuid &id) const
    {
        auto it = m_cards.find(id);
        if (it == m_cards.end()) {
            auto *card = new CardAccessible(m_list, id);
            it = m_cards.insert(id, QAccessible::registerAccessibleInterface(card));
        }
        return QAccessible::accessibleInterface(*it);
    }

    /// Lets go of the interfaces of cards no longer in the list.
    void prune()
    {
        for (auto it = m_cards.begin(); it != m_cards.end();) {
            auto *card = static_cast<CardAccessible *>(QAccessible::accessibleInterface(*it));
            if (!card || card->index() < 0) {
                QAccessible::deleteAccessibleInterface(*it);
                it = m_cards.erase(it);
            } else {
                ++it;
            }
        }
    }

private:
    void forgetAll()
    {
        for (QAccessible::Id id : std::as_const(m_cards))
            QAccessible::deleteAccessibleInterface(id);
        m_cards.clear();
    }

    AccessibleCardList *m_list;
    mutable QHash<QUuid, QAccessible::Id> m_cards;
};

QAccessibleInterface *boardFactory(const QString &className, QObject *object)
{
    if (!object || !object->isWidgetType())
        return nullptr;
    auto *widget = static_cast<QWidget *>(object);
    if (auto *list = dynamic_cast<AccessibleCardList *>(widget))
        return new CardListAccessible(list);
    if (className == QLatin1String("KanbanColumn") || className == QLatin1String("SignInPanel") ||
        className == QLatin1String("QuickComposer"))
        return new QAccessibleWidget(widget, QAccessible::Grouping);
    if (className == QLatin1String("SyncStatusPill"))
        return new QAccessibleWidget(widget, QAccessible::Button);
    return nullptr;
}

CardListAccessible *listInterface(AccessibleCardList *list)
{
    if (!QAccessible::isActive())
        return nullptr;
    return dynamic_cast<CardListAccessible *>(
        QAccessible::queryAccessibleInterface(list->cardArea()));
}

} // namespace

namespace BoardAccessibility {

void install()
{
    static const bool installed = [] {
        QAccessible::installFactory(boardFactory);
        return true;
    }();
    Q_UNUSED(installed);
}

QString cardDescription(const Thought &thought)
{
    QString description = ThoughtStatuses::title(thought.status) + QStringLiteral("，") +
                          relativeLabel(thought.updatedAt);
    if (!thought.note.isEmpty())
        description += QStringLiteral("，有备注");
    return description;
}

void notifyCurrentCardChanged(AccessibleCardList *list)
{
    CardListAccessible *cards = listInterface(list);
    if (!cards || !list->currentCard() || !list->cardArea()->hasFocus())
        return;
    QAccessibleInterface *card = cards->cardInterface(*list->currentCard());
    QAccessibleEvent focus(card, QAccessible::Focus);
    QAccessible::updateAccessibility(&focus);
}

void notifyCardsChanged(AccessibleCardList *list)
{
    CardListAccessible *cards = listInterface(list);
    if (!cards)
        return;
    cards->prune();
    QAccessibleEvent reorder(list->cardArea(), QAccessible::ObjectReorder);
    QAccessible::updateAccessibility(&reorder);
}

} // namespace BoardAccessibility
