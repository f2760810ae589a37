// Points and rectangles in window coordinates, with the kit's inclusive right and bottom edges.
#pragma once

struct BPoint {
  float x = 0;
  float y = 0;
  BPoint() = default;
  BPoint(float px, float py) : x(px), y(py) {}
  bool operator==(const BPoint& other) const { return x == other.x && y == other.y; }
};

struct BRect {
  float left = 0;
  float top = 0;
  float right = -1;
  float bottom = -1;
  BRect() = default;
  BRect(float l, float t, float r, float b) : left(l), top(t), right(r), bottom(b) {}

  float Width() const { return right - left; }
  float Height() const { return bottom - top; }
  bool IsValid() const { return left <= right && top <= bottom; }
  BPoint LeftTop() const { return {left, top}; }
  bool operator==(const BRect& other) const {
    return left == other.left && top == other.top && right == other.right &&
           bottom == other.bottom;
  }
};
