#include "Shape.h"

#include <QPainter>

Shape::Shape(const QString &name, QWidget *parent) : QWidget(parent)
{
    setObjectName(name);
    setFixedSize(24, 24);
}

void Shape::setColor(const QColor &c)
{
    if (c == m_color)
        return;
    m_color = c;
    update();
}

void Shape::paintEvent(QPaintEvent *)
{
    QPainter p(this);
    p.setRenderHint(QPainter::Antialiasing);
    p.setPen(QPen(Qt::black, 1));
    p.setBrush(m_color);
    p.drawEllipse(rect().adjusted(1, 1, -2, -2));
}
