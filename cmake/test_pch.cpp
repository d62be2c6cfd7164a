// The translation unit that GoogleTest's precompiled header is made with.
