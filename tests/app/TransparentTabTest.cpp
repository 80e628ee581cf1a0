// GUI tests of this tab are added with its work.
