"""Plain-text tables and the ratio cells with their targets."""


def ratio_text(times, numerator, denominator, target, kind):
    """'<numerator>/<denominator> 1.23 (<= 1.15 not met)', or the bare ratio
    when there is no target; '-' when a column was not measured."""
    if times.get(numerator) is None or times.get(denominator) is None:
        return "%s/%s -" % (numerator, denominator)
    value = times[numerator] / times[denominator]
    text = "%s/%s %.2f" % (numerator, denominator, value)
    if target is None:
        return text
    met = value <= target if kind == "max" else value >= target
    return "%s (%s %.2f %s)" % (text, "<=" if kind == "max" else ">=", target, "met" if met else "not met")


def print_table(title, header, rows):
    rows = [list(row) + [""] * (len(header) - len(row)) for row in rows]
    widths = [max(len(str(cell)) for cell in column) for column in zip(header, *rows)]
    print()
    print(title)
    line = "  ".join("-" * w for w in widths)
    print(line)
    print("  ".join(str(h).ljust(w) if i == 0 or i == len(header) - 1 else str(h).rjust(w)
                    for i, (h, w) in enumerate(zip(header, widths))))
    print(line)
    for row in rows:
        print("  ".join(str(c).ljust(w) if i == 0 or i == len(row) - 1 else str(c).rjust(w)
                        for i, (c, w) in enumerate(zip(row, widths))))
    print(line, flush=True)
