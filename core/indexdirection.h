#pragma once

// Where the index value went in a calculation, against the value the window showed before it. The value
// label's colour (green rising, red falling, the button face unchanged) and the web link's "direction"
// both follow it.
enum class IndexDirection { Unchanged, Rising, Falling };
