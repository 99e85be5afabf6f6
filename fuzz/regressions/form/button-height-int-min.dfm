object Form1: TForm1
  Font.Height = -2147483648
  object lblmsgtn2: TButton
   Height = -2147483648
  end
  object memolista: TMeClientHeightmo
  end
end
