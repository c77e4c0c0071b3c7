int placeholder_digraph();
