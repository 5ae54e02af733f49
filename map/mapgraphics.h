#pragma once
// Symbols, graphics and graphics overlays of the map layer. An overlay holds
// graphics; the view draws its overlays in list order above the basemap.
#include "map/mapgeometry.h"

#include <QColor>
#include <QList>
#include <QObject>
#include <QPointer>

namespace cindrelmap {

enum class SimpleLineSymbolStyle { Solid, Dash, Dot, Null };
enum class SimpleFillSymbolStyle { Solid, Null };

class Symbol : public QObject {
    Q_OBJECT
public:
    enum class Kind { Line, Fill };
    Kind kind() const { return kind_; }

protected:
    Symbol(Kind kind, QObject *parent) : QObject(parent), kind_(kind) {}

private:
    Kind kind_;
};

class SimpleLineSymbol : public Symbol {
    Q_OBJECT
public:
    SimpleLineSymbol(SimpleLineSymbolStyle style, const QColor &color, float width, QObject *parent = nullptr);
    SimpleLineSymbolStyle style() const { return style_; }
    QColor color() const { return color_; }
    float width() const { return width_; }

private:
    SimpleLineSymbolStyle style_;
    QColor color_;
    float width_;
};

class SimpleFillSymbol : public Symbol {
    Q_OBJECT
public:
    // outline may be null: the fill is drawn without an outline.
    SimpleFillSymbol(SimpleFillSymbolStyle style, const QColor &color, SimpleLineSymbol *outline,
                     QObject *parent = nullptr);
    SimpleFillSymbolStyle style() const { return style_; }
    QColor color() const { return color_; }
    SimpleLineSymbol *outline() const { return outline_; }

private:
    SimpleFillSymbolStyle style_;
    QColor color_;
    QPointer<SimpleLineSymbol> outline_;
};

class Graphic : public QObject {
    Q_OBJECT
public:
    Graphic(const Geometry &geometry, Symbol *symbol, QObject *parent = nullptr);
    Geometry geometry() const { return geometry_; }
    Symbol *symbol() const { return symbol_; }

private:
    Geometry geometry_;
    QPointer<Symbol> symbol_;
};

// An ordered list of objects that tells its observers when it changes. The
// list does not own its entries (their parents do).
template <typename T> class ObjectList {
public:
    int size() const { return items_.size(); }
    bool isEmpty() const { return items_.isEmpty(); }
    T *at(int i) const { return items_.at(i); }
    const QList<T *> &items() const { return items_; }

protected:
    QList<T *> items_;
};

class GraphicListModel : public QObject, public ObjectList<Graphic> {
    Q_OBJECT
public:
    explicit GraphicListModel(QObject *parent = nullptr) : QObject(parent) {}
    void append(Graphic *g);
    void clear();
signals:
    void changed();
};

class GraphicsOverlay : public QObject {
    Q_OBJECT
public:
    explicit GraphicsOverlay(QObject *parent = nullptr);
    GraphicListModel *graphics() const { return graphics_; }
    bool isVisible() const { return visible_; }
    void setVisible(bool v);
signals:
    void changed();

private:
    GraphicListModel *graphics_;
    bool visible_ = true;
};

class GraphicsOverlayListModel : public QObject, public ObjectList<GraphicsOverlay> {
    Q_OBJECT
public:
    explicit GraphicsOverlayListModel(QObject *parent = nullptr) : QObject(parent) {}
    void append(GraphicsOverlay *o);
    void removeAt(int i);
    void clear();
signals:
    void changed();
};

} // namespace cindrelmap
