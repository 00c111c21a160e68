#pragma once
#include <QColor>
#include <QWidget>

// A filled circle: the link lamp.
class Shape : public QWidget {
    Q_OBJECT
    Q_PROPERTY(QColor color READ color WRITE setColor)
public:
    explicit Shape(const QString &name, QWidget *parent = nullptr);
    QColor color() const { return m_color; }
    void setColor(const QColor &c);
    QSize sizeHint() const override { return {24, 24}; }

protected:
    void paintEvent(QPaintEvent *) override;

private:
    QColor m_color;
};
