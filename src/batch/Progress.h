#pragma once
// Progress: while a directory runs, one line on standard error that is
// rewritten in place: instances done of those found so far, how many ended
// well, how many timed out, and the time since the run began. Only when
// standard error is a terminal and standard output is not that same terminal
// (there the items themselves show the progress). Every other line the run
// writes on standard error, and the summary at its end, first clear it.

class Progress {
public:
  explicit Progress(bool directoryMode);
  // Redraws the line; at most ten times a second unless forced.
  void show(long done, long found, long ok, long timeouts, bool force = false);
  // Clears the line (before any other line on standard error).
  void clear();
  // Whether the line is drawn at all (the loop then wakes once a second).
  bool active() const { return active_; }

private:
  bool active_ = false;
  bool shown_ = false;
  double started_ = 0;
  double drawn_ = 0;
};

// Seconds on a clock that only goes forward.
double monotonicSeconds();
