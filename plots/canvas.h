// Canvas: the drawing area of a time plot: no backing store, opaque, no
// frame. A plot that is replotted several times a second gains nothing from
// a second off-screen copy of itself.
#pragma once

#include <qwt_plot_canvas.h>

class Canvas : public QwtPlotCanvas
{
public:
    explicit Canvas(QwtPlot *plot = nullptr);
};
