print("quillmar: placeholder boot")
