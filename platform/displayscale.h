#ifndef DISPLAYSCALE_H
#define DISPLAYSCALE_H

// The primary display's logical pixels per inch, as the desktop reports them; 96 where there is
// no display.
class DisplayScale
{
public:
    static float logicalDpi();
};

#endif // DISPLAYSCALE_H
