#pragma once
// Progress: while a directory runs, one line on standard error that is
// rewritten in place: instances done of those found so far, how many ended
// well, how many timed out, and the time since the run began. Only when
// standard error is a terminal. Every other line the run writes on standard
// error, and the summary at its end, first clear it. When standard output is
// that same terminal, the line also makes way for the items: it is cleared
// before each piece of output and drawn again only where the output has
// left the cursor at the start of a line, so the terminal shows the items as
// they would be without it.

class Progress {
public:
  explicit Progress(bool directoryMode);
  // Redraws the line; at most ten times a second unless forced.
  void show(long done, long found, long ok, long timeouts, bool force = false);
  // Clears the line (before any other line on standard error).
  void clear();
  // Around a piece of standard output: the line makes way, and learns where
  // the output leaves the cursor.
  void beforeOutput();
  void afterOutput(char last);
  // Whether the line is drawn at all (the loop then wakes once a second).
  bool active() const { return active_; }

private:
  bool active_ = false;
  bool sharesTerminal_ = false; // standard output is the same terminal
  bool atLineStart_ = true;     // where that output left the cursor
  bool shown_ = false;
  double started_ = 0;
  double drawn_ = 0;
};

// Seconds on a clock that only goes forward.
double monotonicSeconds();
