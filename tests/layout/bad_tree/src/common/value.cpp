int common_value() { return 1; }
