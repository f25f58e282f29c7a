#include "canvas.h"

Canvas::Canvas(QwtPlot *plot)
    : QwtPlotCanvas(plot)
{
    setPaintAttribute(QwtPlotCanvas::BackingStore, false);
    setPaintAttribute(QwtPlotCanvas::Opaque, true);
    setFrameStyle(QFrame::NoFrame);
    if (testPaintAttribute(QwtPlotCanvas::BackingStore)) {
        setAttribute(Qt::WA_PaintOnScreen, true);
        setAttribute(Qt::WA_NoSystemBackground, true);
    }
}
