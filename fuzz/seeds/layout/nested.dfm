object Form1: TForm1
  object btn2: TButton
    object inner: TLabel
    end
  end
end
