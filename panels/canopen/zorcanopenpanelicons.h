// The pictures of the node and drive panels: tool-bar actions (prefix
// /Toolbar/Icons) and the node picture (/Pics/Icons), drawn by
// resources/icons/make_canopen_icons.py. The library is linked statically,
// so every panel that shows them calls init() in its constructor.
#pragma once

class ZorCanopenPanelIcons
{
public:
    static void init();
};
