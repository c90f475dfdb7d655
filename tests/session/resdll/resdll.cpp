// The library holds resources only.
