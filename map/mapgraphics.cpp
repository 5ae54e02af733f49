#include "map/mapgraphics.h"

namespace cindrelmap {

SimpleLineSymbol::SimpleLineSymbol(SimpleLineSymbolStyle style, const QColor &color, float width, QObject *parent)
    : Symbol(Kind::Line, parent), style_(style), color_(color), width_(width)
{
}

SimpleFillSymbol::SimpleFillSymbol(SimpleFillSymbolStyle style, const QColor &color, SimpleLineSymbol *outline,
                                   QObject *parent)
    : Symbol(Kind::Fill, parent), style_(style), color_(color), outline_(outline)
{
}

Graphic::Graphic(const Geometry &geometry, Symbol *symbol, QObject *parent)
    : QObject(parent), geometry_(geometry), symbol_(symbol)
{
}

void GraphicListModel::append(Graphic *g)
{
    if (!g)
        return;
    items_.append(g);
    // A graphic deleted by its owner leaves the list.
    connect(g, &QObject::destroyed, this, [this](QObject *o) {
        items_.removeAll(static_cast<Graphic *>(o));
        emit changed();
    });
    emit changed();
}

void GraphicListModel::clear()
{
    for (Graphic *g : qAsConst(items_))
        disconnect(g, nullptr, this, nullptr);
    items_.clear();
    emit changed();
}

GraphicsOverlay::GraphicsOverlay(QObject *parent) : QObject(parent), graphics_(new GraphicListModel(this))
{
    connect(graphics_, &GraphicListModel::changed, this, &GraphicsOverlay::changed);
}

void GraphicsOverlay::setVisible(bool v)
{
    if (v == visible_)
        return;
    visible_ = v;
    emit changed();
}

void GraphicsOverlayListModel::append(GraphicsOverlay *o)
{
    if (!o)
        return;
    items_.append(o);
    connect(o, &GraphicsOverlay::changed, this, &GraphicsOverlayListModel::changed);
    connect(o, &QObject::destroyed, this, [this](QObject *obj) {
        items_.removeAll(static_cast<GraphicsOverlay *>(obj));
        emit changed();
    });
    emit changed();
}

void GraphicsOverlayListModel::removeAt(int i)
{
    if (i < 0 || i >= items_.size())
        return;
    disconnect(items_.at(i), nullptr, this, nullptr);
    items_.removeAt(i);
    emit changed();
}

void GraphicsOverlayListModel::clear()
{
    for (GraphicsOverlay *o : qAsConst(items_))
        disconnect(o, nullptr, this, nullptr);
    items_.clear();
    emit changed();
}

} // namespace cindrelmap
