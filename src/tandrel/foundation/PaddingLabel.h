#pragma once
// A label with inner margins on all four sides: the text is drawn inside the margins and the
// label's natural size grows by them. Nothing in the app creates one yet.
#include <QLabel>

class PaddingLabel : public QLabel {
public:
    explicit PaddingLabel(QWidget* parent = nullptr);
    explicit PaddingLabel(const QString& text, QWidget* parent = nullptr);

    double topInset() const { return top_; }
    void setTopInset(double v);
    double bottomInset() const { return bottom_; }
    void setBottomInset(double v);
    double leftInset() const { return left_; }
    void setLeftInset(double v);
    double rightInset() const { return right_; }
    void setRightInset(double v);

    // Where the text of a label drawn into `rect` goes: the rectangle less the margins.
    QRectF textRect(const QRectF& rect) const;
    // The natural size: the plain label's, plus the margins.
    QSize intrinsicContentSize() const { return sizeHint(); }

private:
    void apply();
    double top_ = 5, bottom_ = 5, left_ = 7, right_ = 7;
};
